// The fast and the coarse timer: readings, descriptions, conversions, overflow
// prediction and the HWBOT compliance verdict.
#pragma once

#include "platform/name_table.hpp"

#include <cstdint>
#include <string_view>

namespace velto {

/// The hardware behind a counter; TimerInfo::source holds one.
enum class TimerSource : std::uint8_t { unknown, tsc, itsc, hpet, acpi, pit, rtc };

/// The sources and the names the header, the timer report and the record give them.
inline constexpr NameTable<TimerSource, 7> timer_source_table = {{
    {TimerSource::unknown, "unknown"},
    {TimerSource::tsc, "TSC"},
    {TimerSource::itsc, "iTSC"},
    {TimerSource::hpet, "HPET"},
    {TimerSource::acpi, "ACPI"},
    {TimerSource::pit, "PIT"},
    {TimerSource::rtc, "RTC"},
}};

struct TimerInfo {
  std::int64_t frequency = 0;        ///< counter ticks per second; every conversion divides by it
  std::int64_t report_frequency = 0; ///< rate at which the counter really advances, for display
  TimerSource source = TimerSource::unknown;
};

struct TscInfo {
  bool invariant = false;              ///< CPUID 0x80000007 EDX bit 8
  std::uint64_t tsc_frequency = 0;     ///< Hz; 0 when unknown
  std::uint64_t crystal_frequency = 0; ///< Hz (CPUID 0x15 ECX); 0 when unavailable
};

/// Current fast (high-resolution) counter value.
std::int64_t read_fast_timer();

/// Current coarse tick count in milliseconds.
std::uint64_t read_coarse_timer();

/// The fast timer's description with its source classified.
TimerInfo fast_timer_info();

/// The coarse timer's description: frequency 1000, source unknown, and the real
/// update rate of the system timer as report_frequency (0 when unknown).
TimerInfo coarse_timer_info();

/// Time-stamp-counter facts from CPUID.
TscInfo query_tsc_info();

/// The source's name in timer_source_table; "unknown" for a value outside it.
std::string_view timer_source_name(TimerSource source);

/// Whole seconds between two readings of the timer `info` describes; 0 when frequency ≤ 0.
std::int64_t ticks_to_seconds(const TimerInfo& info, std::int64_t start, std::int64_t end);
/// Milliseconds between two readings, truncated; 0 when frequency ≤ 0.
std::int64_t ticks_to_milliseconds(const TimerInfo& info, std::int64_t start, std::int64_t end);
/// Microseconds between two readings, truncated; 0 when frequency ≤ 0.
std::int64_t ticks_to_microseconds(const TimerInfo& info, std::int64_t start, std::int64_t end);

/// True when the counter, now at `now`, would pass INT64_MAX within `seconds`.
bool timer_will_overflow(const TimerInfo& info, std::int64_t now, std::int64_t seconds);

/// True when the fast timer `info` describes meets the HWBOT timer rules on this machine.
bool is_timer_compliant(const TimerInfo& info);

} // namespace velto
