// The two clocks on Linux: CLOCK_MONOTONIC in nanoseconds is the fast timer,
// CLOCK_MONOTONIC_COARSE in milliseconds the coarse one.
#include "platform/timers.hpp"

#include "platform/cpu.hpp"
#include "platform/linux/file.hpp"
#include "platform/timer_rules.hpp"

#include <time.h>

namespace velto {

namespace {

std::int64_t nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + static_cast<std::int64_t>(t.tv_nsec);
}

} // namespace

std::int64_t read_fast_timer() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return nanoseconds(now);
}

std::uint64_t read_coarse_timer() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::uint64_t>(nanoseconds(now) / 1000000);
}

TimerInfo fast_timer_info() {
  return fast_timer_info_from_clocksource(
      linux_os::read_text_file("/sys/devices/system/clocksource/clocksource0/current_clocksource"),
      query_tsc_info());
}

TimerInfo coarse_timer_info() {
  TimerInfo info;
  info.frequency = 1000;
  timespec resolution{};
  if (clock_getres(CLOCK_MONOTONIC_COARSE, &resolution) == 0) {
    info.report_frequency = frequency_from_resolution_ns(nanoseconds(resolution));
  }
  return info;
}

bool is_timer_compliant(const TimerInfo& info) {
  // Linux is never the old Windows that the version exemption is about.
  return timer_compliance(false, info.source, identify_cpu());
}

} // namespace velto
