// Processor time of the machine and of velto on Windows: GetSystemTimes and GetProcessTimes.
#include "platform/cpu_load.hpp"

#include "platform/win32/windows.hpp"

namespace velto {

namespace {

// FILETIME counts 100-ns units.
double seconds_of(const FILETIME& time) {
  const ULONGLONG units = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<double>(units) * 1e-7;
}

} // namespace

CpuTimes read_cpu_times() {
  CpuTimes times;
  FILETIME idle{};
  FILETIME kernel{};
  FILETIME user{};
  FILETIME created{};
  FILETIME exited{};
  FILETIME own_kernel{};
  FILETIME own_user{};
  LARGE_INTEGER counter{};
  LARGE_INTEGER frequency{};
  if (GetSystemTimes(&idle, &kernel, &user) == 0 ||
      GetProcessTimes(GetCurrentProcess(), &created, &exited, &own_kernel, &own_user) == 0 ||
      QueryPerformanceCounter(&counter) == 0 || QueryPerformanceFrequency(&frequency) == 0 ||
      frequency.QuadPart <= 0) {
    return times;
  }
  // GetSystemTimes sums every processor, and its kernel time includes the idle time.
  times.busy_s = seconds_of(kernel) + seconds_of(user) - seconds_of(idle);
  times.own_s = seconds_of(own_kernel) + seconds_of(own_user);
  times.wall_s = static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
  times.processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  times.known = times.processors != 0;
  return times;
}

} // namespace velto
