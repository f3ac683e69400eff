// The lines that open a run of any kind: the processor, what runs on how many
// threads, the memory it takes and the two timers.
#pragma once

#include "platform/machine.hpp"
#include "platform/timers.hpp"

#include <cstdint>
#include <ostream>
#include <string>

namespace velto {

/// What a run's header says of its threads and grids.
struct RunHeader {
  std::uint32_t threads = 0;
  std::string manager;                ///< in the brackets after the thread count
  std::string grids;                  ///< "192 x 192 x 192", before " grid"
  std::uint64_t bytes_per_thread = 0; ///< the fields of one thread
};

/// The brand string, the feature list, "running with {} thread{} ({})",
/// "{} grid", "{} per thread" and "{} total".
void print_run_header(const RunHeader& header, const Machine& machine, std::ostream& out);

/// "Fast Timer Frequency: {} ({source})" and "Coarse Timer Frequency: {}".
void describe_timers(const TimerInfo& fast, const TimerInfo& coarse, std::ostream& out);

} // namespace velto
