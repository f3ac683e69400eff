// The two clocks on Windows: the performance counter is the fast timer, the
// 64-bit tick count the coarse one; the system-timer rate and the version
// test for the timer verdict.
#include "platform/timers.hpp"

#include "platform/cpu.hpp"
#include "platform/timer_rules.hpp"
#include "platform/win32/windows.hpp"

namespace velto {

namespace {

// ntdll's entry, not declared by the SDK headers: maximum, minimum and current
// resolution of the system timer in 100-ns units.
using NtQueryTimerResolutionFn = LONG(NTAPI*)(PULONG maximum, PULONG minimum, PULONG current);

static_assert(sizeof(ULONG) == 4, "the resolution query writes 32-bit values");
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version test passes the 284-byte record");

bool os_older_than_6_2() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 2;
  version.wServicePackMajor = 0;
  DWORDLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            condition) == FALSE;
}

} // namespace

std::int64_t read_fast_timer() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::uint64_t read_coarse_timer() {
  return GetTickCount64();
}

TimerInfo fast_timer_info() {
  // A failing frequency query leaves 0, which every conversion treats as unknown.
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  TimerInfo info;
  info.frequency = frequency.QuadPart;
  info.report_frequency = frequency.QuadPart;
  info.source = classify_fast_timer(frequency.QuadPart, query_tsc_info());
  return info;
}

TimerInfo coarse_timer_info() {
  CoarseTimerQuery query;
  // ntdll is in every process; it is looked up, never loaded or freed here.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const FARPROC entry =
      ntdll != nullptr ? GetProcAddress(ntdll, "NtQueryTimerResolution") : nullptr;
  if (entry != nullptr) {
    // Through a void function pointer type: a direct cast trips -Wcast-function-type.
    const auto query_resolution =
        reinterpret_cast<NtQueryTimerResolutionFn>(reinterpret_cast<void (*)()>(entry));
    ULONG maximum = 0;
    ULONG minimum = 0;
    ULONG current = 0;
    query.resolution_found = true;
    query.resolution_status = query_resolution(&maximum, &minimum, &current);
    query.current_resolution = current;
  }
  if (needs_time_adjustment(query)) {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL adjustment_disabled = FALSE;
    query.adjustment_ok =
        GetSystemTimeAdjustment(&adjustment, &increment, &adjustment_disabled) != FALSE;
    query.time_increment = increment;
  }
  TimerInfo info;
  info.frequency = 1000;
  info.report_frequency = coarse_report_frequency(query);
  return info;
}

bool is_timer_compliant(const TimerInfo& info) {
  return timer_compliance(os_older_than_6_2(), info.source, identify_cpu());
}

} // namespace velto
