#include "platform/timer_rules.hpp"
#include "platform/timers.hpp"

#include "support/cpuid_fixtures.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace velto {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TimerInfo timer_of(std::int64_t frequency) {
  TimerInfo info;
  info.frequency = frequency;
  info.report_frequency = frequency;
  return info;
}

std::string name_of(TimerSource source) {
  return std::string(timer_source_name(source));
}

TEST(Timers, SourceNames) {
  const char* names[] = {"unknown", "TSC", "iTSC", "HPET", "ACPI", "PIT", "RTC"};
  for (std::uint8_t code = 0; code < 7; ++code) {
    EXPECT_EQ(name_of(static_cast<TimerSource>(code)), names[code]);
  }
  // A code no source has, as a corrupted value would carry.
  EXPECT_EQ(name_of(static_cast<TimerSource>(7)), "unknown");
  EXPECT_EQ(name_of(static_cast<TimerSource>(255)), "unknown");
}

TEST(Timers, FastTimerIsClassifiedByTheFirstMatchingRule) {
  constexpr std::uint64_t kTsc = 3000000000; // 3 GHz time-stamp counter
  struct Case {
    std::int64_t frequency;
    std::uint64_t tsc_frequency;
    bool invariant;
    TimerSource source;
  };
  const Case cases[] = {
      // The fixed rates win even over a matching time-stamp frequency.
      {1193182, 1193182, true, TimerSource::pit},
      {32000000, 32000000, true, TimerSource::rtc},
      {32768000, 0, false, TimerSource::rtc},
      {3579545, 3579545, true, TimerSource::acpi},
      {3579000, 0, false, TimerSource::acpi},
      {3579999, 0, false, TimerSource::acpi},
      {3578999, 0, false, TimerSource::unknown},
      {3580000, 0, false, TimerSource::unknown},
      {143200000, 143200000, true, TimerSource::hpet},
      {143100001, 0, false, TimerSource::hpet},
      {143299999, 0, false, TimerSource::hpet},
      {143100000, 0, true, TimerSource::itsc}, // just outside: at least 100 MHz
      {14318180, 0, false, TimerSource::hpet},
      {14318180, 14318180, false, TimerSource::tsc},
      // Exactly 10 MHz is the time-stamp counter whatever its frequency.
      {10000000, 0, true, TimerSource::itsc},
      {10000000, 0, false, TimerSource::tsc},
      {10000000, kTsc, false, TimerSource::tsc},
      {10000001, 0, true, TimerSource::hpet},
      {9999999, 0, true, TimerSource::unknown},
      // Near the time-stamp frequency, or near it divided by 1024.
      {2929687, kTsc, true, TimerSource::itsc},
      {2929687 + 99999, kTsc, false, TimerSource::tsc},
      {2929687 - 99999, kTsc, true, TimerSource::itsc},
      {2929687 + 100000, kTsc, true, TimerSource::unknown},
      {50999999, 50000000, false, TimerSource::tsc},
      {49000001, 50000000, true, TimerSource::itsc},
      {51000000, 50000000, false, TimerSource::hpet},
      {2400000000, 0, true, TimerSource::itsc},
      {0, 0, true, TimerSource::unknown},
      {-1, 0, true, TimerSource::unknown},
      // A time-stamp frequency beyond the signed range matches nothing.
      {10000001, std::numeric_limits<std::uint64_t>::max(), true, TimerSource::hpet},
  };
  for (const auto& c : cases) {
    TscInfo tsc;
    tsc.invariant = c.invariant;
    tsc.tsc_frequency = c.tsc_frequency;
    EXPECT_EQ(name_of(classify_fast_timer(c.frequency, tsc)), name_of(c.source))
        << c.frequency << " Hz, TSC " << c.tsc_frequency;
  }
}

TEST(Timers, TscFrequencyFromCrystalRatioOrBaseFrequency) {
  struct Case {
    std::uint32_t crystal;
    std::uint32_t numerator;
    std::uint32_t denominator;
    std::uint32_t base_mhz;
    std::uint64_t tsc;
  };
  const Case cases[] = {
      {24000000, 188, 2, 2200, 2256000000},
      {38400000, 125, 2, 0, 2400000000},
      {0, 188, 2, 3600, 3600000000},
      {24000000, 0, 2, 3600, 3600000000},
      {24000000, 188, 0, 3600, 3600000000},
      {0, 0, 0, 0, 0},
      {0xFFFFFFFF, 0xFFFFFFFF, 1, 0, 0xFFFFFFFE00000001}, // the product needs 64 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tsc_frequency_from_leaves(c.crystal, c.numerator, c.denominator, c.base_mhz), c.tsc)
        << c.crystal << " " << c.numerator << "/" << c.denominator << " " << c.base_mhz;
  }
}

TEST(Timers, TscInfoReadsOnlyTheLeavesTheProcessorOffers) {
  struct Case {
    const char* what;
    std::uint32_t max_basic;
    std::uint32_t invariant_edx;
    bool invariant;
    std::uint64_t tsc;
    std::uint64_t crystal;
  };
  const Case cases[] = {
      {"leaves 0x15 and 0x16", 0x16, 0x100, true, 2256000000, 24000000},
      {"leaf 0x15 only", 0x15, 0, false, 2256000000, 24000000},
      {"neither leaf", 0x14, 0x100, true, 0, 0},
  };
  for (const auto& c : cases) {
    const RecordedCpuidSource source(
        {
            {0, 0, {c.max_basic, 0, 0, 0}},
            {0x15, 0, {2, 188, 24000000, 0}},
            {0x16, 0, {0xFFFF0000u | 2200u, 0, 0, 0}}, // only the low 16 bits are MHz
            {0x80000000, 0, {0x80000000, 0, 0, 0}},    // 0x80000007 is read all the same
            {0x80000007, 0, {0, 0, 0, c.invariant_edx}},
        },
        0);
    const TscInfo info = decode_tsc_info(source);
    EXPECT_EQ(info.invariant, c.invariant) << c.what;
    EXPECT_EQ(info.tsc_frequency, c.tsc) << c.what;
    EXPECT_EQ(info.crystal_frequency, c.crystal) << c.what;
  }
  // Leaf 0x16 alone: no crystal, the base frequency counts.
  const RecordedCpuidSource base_only({{0, 0, {0x16, 0, 0, 0}}, {0x16, 0, {3600, 0, 0, 0}}}, 0);
  EXPECT_EQ(decode_tsc_info(base_only).tsc_frequency, 3600000000u);

  const RecordedCpuidSource dev(testing::dev_machine_leaves(), testing::kDevMachineXcr0);
  const TscInfo dev_info = decode_tsc_info(dev);
  EXPECT_TRUE(dev_info.invariant);
  EXPECT_EQ(dev_info.tsc_frequency, 0u);
  EXPECT_EQ(dev_info.crystal_frequency, 0u);
}

TEST(Timers, TickConversionsSplitQuotientAndRemainder) {
  struct Case {
    std::int64_t frequency;
    std::int64_t start;
    std::int64_t end;
    std::int64_t seconds;
    std::int64_t milliseconds;
    std::int64_t microseconds;
  };
  const Case cases[] = {
      {3, 0, 10, 3, 3333, 3333333},
      {3, 10, 0, -3, -3333, -3333333}, // truncation toward zero
      {3, 5, 5, 0, 0, 0},
      {0, 0, 10, 0, 0, 0},
      {-5, 0, 10, 0, 0, 0},
      {1000, 100, 1099, 0, 999, 999000},
      {10000000, 0, 10000000LL * 86400 * 365, 86400LL * 365, 86400000LL * 365,
       86400000000LL * 365}, // a year of a 10 MHz counter stays exact
      {1000000000, 1000, 1000 + 1500000001, 1, 1500, 1500000},
      {2999999999, 0, 2999999999LL * 1000 + 1, 1000, 1000000, 1000000000},
      // A coarse count that crosses 2^63 arrives as a negative bit pattern.
      {1000, kMax - 4, kMin + 5, 0, 10, 10000},
  };
  for (const auto& c : cases) {
    const TimerInfo info = timer_of(c.frequency);
    EXPECT_EQ(ticks_to_seconds(info, c.start, c.end), c.seconds) << c.frequency << " " << c.end;
    EXPECT_EQ(ticks_to_milliseconds(info, c.start, c.end), c.milliseconds)
        << c.frequency << " " << c.end;
    EXPECT_EQ(ticks_to_microseconds(info, c.start, c.end), c.microseconds)
        << c.frequency << " " << c.end;
  }
}

TEST(Timers, OverflowIsPredictedAtTheEdgeOfTheSignedRange) {
  struct Case {
    std::int64_t frequency;
    std::int64_t now;
    std::int64_t seconds;
    bool overflow;
  };
  const Case cases[] = {
      {1000, 0, 12, false},
      {1000, kMax - 13 * 1000, 12, false}, // exactly (seconds + 1) * 1000 left
      {1000, kMax - 13 * 1000 + 1, 12, true},
      {1000, kMax - 12 * 1000, 12, true},
      {1000, kMax, 0, true},
      {10000000, kMax - 1003LL * 10000000, 1002, false},
      {10000000, kMax - 1003LL * 10000000 + 1, 1002, true},
      {10000000, kMax - 1002LL * 10000000, 1002, true},
      {0, kMax, kMax - 1, false}, // unknown frequency: the whole range remains
      {0, kMax, kMax, true},
      {-1000, 0, 12, false},
      {1000, -1, 12, true}, // a reading already past the signed range
      {1000, kMin, 12, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(timer_will_overflow(timer_of(c.frequency), c.now, c.seconds), c.overflow)
        << c.frequency << " " << c.now << " " << c.seconds;
  }
}

TEST(Timers, CoarseReportFrequencyFallsBackToTheTimeAdjustment) {
  struct Case {
    const char* what;
    CoarseTimerQuery query;
    bool asks_adjustment;
    std::int64_t report_frequency;
  };
  const Case cases[] = {
      {"default 15.625 ms resolution", {true, 0, 156250, false, 0}, false, 64},
      {"1 ms resolution", {true, 0, 10000, false, 0}, false, 1000},
      {"0.5 ms resolution", {true, 0, 5000, false, 0}, false, 2000},
      {"resolution wins over the increment", {true, 1, 10000, true, 156250}, false, 1000},
      {"failed query", {true, -1073741822, 10000, true, 156250}, true, 64},
      {"query missing", {false, 0, 0, true, 156001}, true, 64},
      {"zero resolution", {true, 0, 0, true, 156250}, true, 64},
      {"zero resolution, adjustment fails", {true, 0, 0, false, 156250}, true, 0},
      {"adjustment fails", {false, 0, 0, false, 156250}, true, 0},
      {"zero increment", {false, 0, 0, true, 0}, true, 0},
      {"largest resolution", {true, 0, 0xFFFFFFFF, false, 0}, false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(needs_time_adjustment(c.query), c.asks_adjustment) << c.what;
    EXPECT_EQ(coarse_report_frequency(c.query), c.report_frequency) << c.what;
  }
}

TEST(Timers, LinuxClocksourceNamesTheSource) {
  constexpr std::uint64_t kTsc = 2100000000;
  struct Case {
    const char* clocksource;
    bool invariant;
    std::uint64_t tsc_frequency;
    TimerSource source;
    std::int64_t report_frequency;
  };
  const Case cases[] = {
      {"tsc\n", true, kTsc, TimerSource::itsc, 2100000000},
      {"tsc\n", false, kTsc, TimerSource::tsc, 2100000000},
      {"tsc", true, 0, TimerSource::itsc, 1000000000}, // rate unknown: the counter's
      {"hpet\n", true, kTsc, TimerSource::hpet, 1000000000},
      {"acpi_pm\n", true, kTsc, TimerSource::acpi, 1000000000},
      {"pit\n", false, 0, TimerSource::pit, 1000000000},
      {"kvm-clock\n", true, kTsc, TimerSource::unknown, 1000000000},
      {"hyperv_clocksource_tsc_page\n", true, kTsc, TimerSource::unknown, 1000000000},
      {"xen\n", true, kTsc, TimerSource::unknown, 1000000000},
      {"arch_sys_counter\n", false, 0, TimerSource::unknown, 1000000000},
      {"tsc-early\n", true, kTsc, TimerSource::unknown, 1000000000},
      {"", true, kTsc, TimerSource::unknown, 1000000000}, // file unreadable
  };
  for (const auto& c : cases) {
    TscInfo tsc;
    tsc.invariant = c.invariant;
    tsc.tsc_frequency = c.tsc_frequency;
    const TimerInfo info = fast_timer_info_from_clocksource(c.clocksource, tsc);
    EXPECT_EQ(info.frequency, 1000000000) << c.clocksource;
    EXPECT_EQ(name_of(info.source), name_of(c.source)) << c.clocksource;
    EXPECT_EQ(info.report_frequency, c.report_frequency) << c.clocksource;
  }
}

TEST(Timers, CoarseRateFromClockResolution) {
  EXPECT_EQ(frequency_from_resolution_ns(4000000), 250);
  EXPECT_EQ(frequency_from_resolution_ns(1000000), 1000);
  EXPECT_EQ(frequency_from_resolution_ns(1), 1000000000);
  EXPECT_EQ(frequency_from_resolution_ns(0), 0);
  EXPECT_EQ(frequency_from_resolution_ns(-1), 0);
}

TEST(Timers, ComplianceVerdict) {
  constexpr auto hpet = TimerSource::hpet;
  constexpr auto itsc = TimerSource::itsc;
  constexpr auto unknown = TimerSource::unknown;
  struct Case {
    const char* what;
    bool old_os;
    TimerSource source;
    CpuVendor vendor;
    std::int32_t model;
    bool compliant;
  };
  const Case cases[] = {
      {"old OS, unknown timer", true, unknown, CpuVendor::unknown, 0, true},
      {"old OS, Intel 0x4F", true, itsc, CpuVendor::intel, 0x4F, true},
      {"HPET on an unknown processor", false, hpet, CpuVendor::unknown, 0, true},
      {"Intel 0x4F needs HPET", false, itsc, CpuVendor::intel, 0x4F, false},
      {"Intel 0x4F with HPET", false, hpet, CpuVendor::intel, 0x4F, true},
      {"Intel 0x4E", false, itsc, CpuVendor::intel, 0x4E, true},
      {"Intel 0x50", false, unknown, CpuVendor::intel, 0x50, true},
      {"Intel 0x9E", false, itsc, CpuVendor::intel, 0x9E, true},
      {"Intel 0x4D", false, itsc, CpuVendor::intel, 0x4D, false},
      {"AMD with the model of a new Intel", false, itsc, CpuVendor::amd, 0x71, false},
      {"unknown maker", false, itsc, CpuVendor::unknown, 0x9E, false},
  };
  for (const auto& c : cases) {
    CpuIdentity cpu;
    cpu.vendor = c.vendor;
    cpu.model = c.model;
    cpu.family = 6;
    EXPECT_EQ(timer_compliance(c.old_os, c.source, cpu), c.compliant) << c.what;
  }
}

} // namespace
} // namespace velto
