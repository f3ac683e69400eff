// How busy the machine was besides velto: the processor time of all programs
// and of this process, read at two moments, and the share the others took.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velto {

/// One reading of the machine's and this process's processor time.
struct CpuTimes {
  bool known = false;           ///< false when the system would not say
  double busy_s = 0.0;          ///< all logical processors' non-idle time since boot
  double own_s = 0.0;           ///< this process's user and system time
  double wall_s = 0.0;          ///< a monotonic clock
  std::uint32_t processors = 0; ///< logical processors the busy time covers
};

/// The live reading (Linux: /proc/stat and /proc/self/stat; Windows:
/// GetSystemTimes and GetProcessTimes). Never fails: `known` says whether it worked.
CpuTimes read_cpu_times();

/// The share of all processors × the wall time between the readings that
/// other programs used: (busy − own) / (processors × wall), clamped to 0..1.
/// Nothing when either reading is unknown or no time passed.
std::optional<double> other_cpu_share(const CpuTimes& before, const CpuTimes& after);

/// The aggregate "cpu" line of a /proc/stat text, in clock ticks.
struct ProcStatTotals {
  bool ok = false;
  std::uint64_t busy = 0;       ///< user + nice + system + irq + softirq + steal
  std::uint32_t processors = 0; ///< the "cpuN" lines
};
ProcStatTotals parse_proc_stat(std::string_view text);

/// utime + stime of a /proc/<pid>/stat text, in clock ticks; nothing when malformed.
std::optional<std::uint64_t> parse_proc_pid_stat_cpu(std::string_view text);

} // namespace velto
