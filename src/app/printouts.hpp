// The printouts the driver makes instead of a run: the memory table after the
// help, the timer and processor report, and the grid-size limit messages.
#pragma once

#include "engine/machine_facts.hpp"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace velto {

/// The help after the usage text: the per-thread memory of every grid size.
void print_memory_table(std::ostream& out);

/// The timer and processor report of `--timer-debug`, one line each.
void print_timer_report(const TimerFacts& report, std::ostream& out);

/// The message of the first grid-size limit `grid_size` breaks for a size type
/// whose largest value is `size_max`; empty when it breaks none.
std::string grid_size_limit_message(std::uint64_t grid_size, std::uint64_t size_max = SIZE_MAX);

} // namespace velto
