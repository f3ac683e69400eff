// Processor time of the machine and of velto on Linux: /proc/stat and /proc/self/stat.
#include "platform/cpu_load.hpp"

#include "platform/linux/file.hpp"

#include <time.h>
#include <unistd.h>

namespace velto {

CpuTimes read_cpu_times() {
  CpuTimes times;
  const long ticks_per_second = ::sysconf(_SC_CLK_TCK);
  if (ticks_per_second <= 0) {
    return times;
  }
  const ProcStatTotals totals = parse_proc_stat(linux_os::read_text_file("/proc/stat"));
  const auto own = parse_proc_pid_stat_cpu(linux_os::read_text_file("/proc/self/stat"));
  timespec now{};
  if (!totals.ok || !own || ::clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
    return times;
  }
  const double tick = 1.0 / static_cast<double>(ticks_per_second);
  times.busy_s = static_cast<double>(totals.busy) * tick;
  times.own_s = static_cast<double>(*own) * tick;
  times.wall_s = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  times.processors = totals.processors;
  times.known = true;
  return times;
}

} // namespace velto
