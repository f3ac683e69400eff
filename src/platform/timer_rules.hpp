// The decisions behind the timer descriptions, as functions of plain values so
// that any machine's readings can be fed to them on any host.
#pragma once

#include "platform/cpu.hpp"
#include "platform/timers.hpp"

#include <cstdint>
#include <string_view>

namespace velto {

/// The hardware behind a performance counter of `frequency` Hz, judged from the
/// frequency and the time-stamp-counter facts.
TimerSource classify_fast_timer(std::int64_t frequency, const TscInfo& tsc);

/// Time-stamp-counter frequency in Hz from leaf 0x15 (crystal, numerator,
/// denominator) or else leaf 0x16's base frequency in MHz; 0 when neither helps.
std::uint64_t tsc_frequency_from_leaves(std::uint32_t crystal_hz, std::uint32_t numerator,
                                        std::uint32_t denominator, std::uint32_t base_mhz);

/// Invariance, crystal and time-stamp-counter frequency as `source` reports them.
TscInfo decode_tsc_info(const CpuidSource& source);

/// What the OS said about the system timer's update rate.
struct CoarseTimerQuery {
  bool resolution_found = false;        ///< the native resolution query exists
  std::int32_t resolution_status = -1;  ///< its status; negative is a failure
  std::uint32_t current_resolution = 0; ///< 100-ns units
  bool adjustment_ok = false;           ///< the time-adjustment query succeeded
  std::uint32_t time_increment = 0;     ///< 100-ns units
};

/// True when the native resolution cannot be used and the time adjustment must be asked.
bool needs_time_adjustment(const CoarseTimerQuery& query);

/// The coarse timer's real update rate in Hz; 0 when unknown.
std::int64_t coarse_report_frequency(const CoarseTimerQuery& query);

/// Update rate in Hz of a clock whose resolution is `resolution_ns`; 0 when unknown.
std::int64_t frequency_from_resolution_ns(std::int64_t resolution_ns);

/// The source code for a Linux clocksource name ("tsc", "hpet", "acpi_pm", "pit").
TimerSource timer_source_from_clocksource(std::string_view name, bool tsc_invariant);

/// The Linux fast timer (nanoseconds) described from the current clocksource name.
TimerInfo fast_timer_info_from_clocksource(std::string_view clocksource, const TscInfo& tsc);

/// The timer verdict: compliant on an OS older than 6.2, with an HPET timer, or on
/// an Intel processor of model 0x4E or later other than 0x4F.
bool timer_compliance(bool os_older_than_6_2, TimerSource source, const CpuIdentity& cpu);

} // namespace velto
