// The body every benchmark thread runs once: pin, allocate, initialise, meet
// the others, step until the coarse timer says the time is up, validate.
#pragma once

#include "bench/run_records.hpp"

#include <cstdint>
#include <ostream>

namespace velto {

/// The grid spacing of every run.
inline constexpr double run_dx = 0.01;

/// Runs worker `thread_index` of `run` to its end; worker 0 is the reporter,
/// which prints the progress. Appends at most one ThreadResult; on any failure
/// prints what failed, records it as a problem of the run and raises the stop
/// request.
void run_worker(RunContext& run, std::uint32_t thread_index);

/// Rewrites the live line "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations"
/// (rates summed, largest iteration count) without a newline, and flushes.
void print_progress(std::ostream& out, std::int64_t elapsed_seconds, std::uint64_t duration,
                    const ProgressBoard& board);

} // namespace velto
