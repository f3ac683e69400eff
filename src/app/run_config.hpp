// The options of one invocation, as the command line sets them.
#pragma once

#include <cstdint>
#include <string>

namespace velto {

struct RunConfig {
  std::uint32_t thread_count = 0;         ///< -n; 0 asks for the automatic count
  std::uint32_t duration = 30;            ///< -d, seconds, clamped to 1..1000 by the run
  std::uint64_t grid_size = 192;          ///< -s, N
  std::string threading = "os";           ///< --threading: os, numa or phte
  std::string workload = "standing_wave"; ///< --workload
  bool large_pages = false;               ///< --large-pages
  bool bypass_timer_check = false;        ///< --bypass-timer-check
};

} // namespace velto
