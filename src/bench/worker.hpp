// The body every benchmark thread runs once: pin, allocate, initialise, meet
// the others, step until the coarse timer says the time is up, validate.
#pragma once

#include "bench/run_records.hpp"

#include <cstdint>
#include <ostream>

namespace velto {

/// The grid spacing of every run.
inline constexpr double run_dx = 0.01;

/// Runs one worker to its end. Appends at most one ThreadResult; raises the
/// stop request on any failure, after printing what failed.
void run_worker(WorkerArgs args);

/// Rewrites the live line "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations"
/// (rates summed, largest iteration count) without a newline, and flushes.
void print_progress(std::ostream& out, std::int64_t elapsed_seconds, std::uint64_t duration,
                    const ProgressBoard& board);

} // namespace velto
