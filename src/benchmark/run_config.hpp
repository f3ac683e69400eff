// The options of one invocation, as the command line sets them and the run
// reads them.
#pragma once

#include "engine/placement.hpp"
#include "solver/workload.hpp"

#include <cstdint>

namespace velto {

/// The shortest and the longest run, in seconds; a duration outside is clamped.
inline constexpr std::uint32_t min_duration = 1;
inline constexpr std::uint32_t max_duration = 1000;

struct RunConfig {
  std::uint32_t thread_count = 0;                      ///< -n; 0 asks for the automatic count
  std::uint32_t duration = 30;                         ///< -d, seconds, clamped by the run
  std::uint64_t grid_size = 192;                       ///< -s, N
  Threading threading = Threading::os;                 ///< --threading
  WorkloadKind workload = WorkloadKind::standing_wave; ///< --workload
  bool large_pages = false;                            ///< --large-pages
  bool bypass_timer_check = false;                     ///< --bypass-timer-check
};

} // namespace velto
