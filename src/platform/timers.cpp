// Timer rules, conversions and the overflow prediction: only code that is the
// same on every OS. The readings themselves live in linux/ and win32/.
#include "platform/timers.hpp"
#include "platform/timer_rules.hpp"

#include <limits>
#include <string_view>

namespace velto {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// Differences are taken modulo 2^64: coarse readings arrive as the bit pattern
// of an unsigned count, and their difference is still right across the sign bit.
std::int64_t wrapping_difference(std::int64_t end, std::int64_t start) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(end) -
                                   static_cast<std::uint64_t>(start));
}

// |a - b| without signed overflow; saturates at the largest signed value.
std::int64_t distance(std::int64_t a, std::int64_t b) {
  const std::uint64_t d = a >= b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                                 : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
  return d > static_cast<std::uint64_t>(kInt64Max) ? kInt64Max : static_cast<std::int64_t>(d);
}

// A tick difference split into whole periods and a remainder keeps the scaled
// products inside 64 bits for any realistic run.
std::int64_t scaled_ticks(const TimerInfo& info, std::int64_t start, std::int64_t end,
                          std::int64_t scale) {
  const std::int64_t f = info.frequency;
  if (f <= 0) {
    return 0;
  }
  const std::int64_t d = wrapping_difference(end, start);
  const std::int64_t q = d / f;
  const std::int64_t r = d % f;
  return q * scale + (r * scale) / f;
}

} // namespace

std::string_view timer_source_name(TimerSource source) {
  const std::string_view name = name_of_choice(timer_source_table, source);
  return name.empty() ? "unknown" : name;
}

std::int64_t ticks_to_seconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
  return scaled_ticks(info, start, end, 1);
}

std::int64_t ticks_to_milliseconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
  return scaled_ticks(info, start, end, 1000);
}

std::int64_t ticks_to_microseconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
  return scaled_ticks(info, start, end, 1000000);
}

bool timer_will_overflow(const TimerInfo& info, std::int64_t now, std::int64_t seconds) {
  // A negative reading is a counter already past the signed range (a coarse
  // count above 2^63 arrives as a negative bit pattern): it has overflowed.
  if (now < 0) {
    return true;
  }
  const std::int64_t remaining =
      info.frequency > 0 ? (kInt64Max - now) / info.frequency : kInt64Max;
  return remaining <= seconds;
}

TimerSource classify_fast_timer(std::int64_t f, const TscInfo& tsc) {
  // The fixed rates of the other timers are tested first, so a counter at one
  // of them is never taken for the time-stamp counter.
  if (f == 1193182) {
    return TimerSource::pit;
  }
  if (f == 32000000 || f == 32768000) {
    return TimerSource::rtc;
  }
  if (f >= 3579000 && f <= 3579999) {
    return TimerSource::acpi;
  }
  if (f >= 143100001 && f <= 143299999) {
    return TimerSource::hpet;
  }
  const TimerSource tsc_kind = tsc.invariant ? TimerSource::itsc : TimerSource::tsc;
  // A frequency beyond the signed range is no real time-stamp rate; it matches nothing.
  if (tsc.tsc_frequency != 0 && tsc.tsc_frequency <= static_cast<std::uint64_t>(kInt64Max)) {
    const auto t = static_cast<std::int64_t>(tsc.tsc_frequency);
    if (distance(f, t) < 1000000 || distance(f, t / 1024) < 100000) {
      return tsc_kind;
    }
  }
  if (f >= 100000000 || f == 10000000) {
    return tsc_kind;
  }
  if (f > 10000000) {
    return TimerSource::hpet;
  }
  return TimerSource::unknown;
}

std::uint64_t tsc_frequency_from_leaves(std::uint32_t crystal_hz, std::uint32_t numerator,
                                        std::uint32_t denominator, std::uint32_t base_mhz) {
  if (crystal_hz != 0 && numerator != 0 && denominator != 0) {
    return static_cast<std::uint64_t>(crystal_hz) * numerator / denominator;
  }
  return static_cast<std::uint64_t>(base_mhz) * 1000000u;
}

TscInfo decode_tsc_info(const CpuidSource& source) {
  TscInfo info;
  // Read without checking the highest extended leaf first.
  info.invariant = ((source.cpuid(0x80000007u, 0).edx >> 8) & 1u) != 0;
  const std::uint32_t highest_basic = source.cpuid(0, 0).eax;
  CpuidRegisters leaf15;
  std::uint32_t base_mhz = 0;
  if (highest_basic >= 0x15) {
    leaf15 = source.cpuid(0x15, 0);
  }
  if (highest_basic >= 0x16) {
    base_mhz = source.cpuid(0x16, 0).eax & 0xFFFF;
  }
  info.crystal_frequency = leaf15.ecx;
  info.tsc_frequency = tsc_frequency_from_leaves(leaf15.ecx, leaf15.ebx, leaf15.eax, base_mhz);
  return info;
}

TscInfo query_tsc_info() {
  return decode_tsc_info(live_cpuid_source());
}

bool needs_time_adjustment(const CoarseTimerQuery& query) {
  // A current resolution of 0 would divide by zero; it is as good as no answer.
  return !query.resolution_found || query.resolution_status < 0 || query.current_resolution == 0;
}

std::int64_t coarse_report_frequency(const CoarseTimerQuery& query) {
  constexpr std::uint64_t kHundredNsPerSecond = 10000000;
  if (!needs_time_adjustment(query)) {
    return static_cast<std::int64_t>(kHundredNsPerSecond / query.current_resolution);
  }
  if (query.adjustment_ok && query.time_increment != 0) {
    return static_cast<std::int64_t>(kHundredNsPerSecond / query.time_increment);
  }
  return 0;
}

std::int64_t frequency_from_resolution_ns(std::int64_t resolution_ns) {
  return resolution_ns > 0 ? 1000000000 / resolution_ns : 0;
}

TimerSource timer_source_from_clocksource(std::string_view name, bool tsc_invariant) {
  if (name == "tsc") {
    return tsc_invariant ? TimerSource::itsc : TimerSource::tsc;
  }
  if (name == "hpet") {
    return TimerSource::hpet;
  }
  if (name == "acpi_pm") {
    return TimerSource::acpi;
  }
  if (name == "pit") {
    return TimerSource::pit;
  }
  // kvm-clock, hyperv_clocksource_tsc_page, xen, arch_sys_counter, ...
  return TimerSource::unknown;
}

TimerInfo fast_timer_info_from_clocksource(std::string_view clocksource, const TscInfo& tsc) {
  constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
  const std::string_view blanks = " \t\r\n";
  const std::size_t first = clocksource.find_first_not_of(blanks);
  const std::string_view name =
      first == std::string_view::npos
          ? std::string_view{}
          : clocksource.substr(first, clocksource.find_last_not_of(blanks) - first + 1);

  TimerInfo info;
  info.frequency = kNanosecondsPerSecond;
  const TimerSource source = timer_source_from_clocksource(name, tsc.invariant);
  info.source = source;
  const bool on_tsc = source == TimerSource::tsc || source == TimerSource::itsc;
  // The clock counts nanoseconds whatever drives it; the rate worth showing is
  // the time-stamp counter's when that is the driver and its rate is known.
  info.report_frequency =
      on_tsc && tsc.tsc_frequency != 0 && tsc.tsc_frequency <= static_cast<std::uint64_t>(kInt64Max)
          ? static_cast<std::int64_t>(tsc.tsc_frequency)
          : kNanosecondsPerSecond;
  return info;
}

bool timer_compliance(bool os_older_than_6_2, TimerSource source, const CpuIdentity& cpu) {
  if (os_older_than_6_2) {
    return true;
  }
  if (source == TimerSource::hpet) {
    return true;
  }
  // The rules exempt Intel processors from model 0x4E on, all but model 0x4F.
  return cpu.vendor == CpuVendor::intel && cpu.model >= 0x4E && cpu.model != 0x4F;
}

} // namespace velto
