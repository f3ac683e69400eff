// The live Windows clocks.
#include "platform/timers.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace velto {
namespace {

TEST(TimersLive, BothTimersAdvanceAcrossASleep) {
  const TimerInfo fast = fast_timer_info();
  const TimerInfo coarse = coarse_timer_info();
  ASSERT_GT(fast.frequency, 0);
  EXPECT_EQ(fast.report_frequency, fast.frequency);
  ASSERT_EQ(coarse.frequency, 1000);

  const std::int64_t fast_start = read_fast_timer();
  const std::uint64_t coarse_start = read_coarse_timer();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::int64_t fast_end = read_fast_timer();
  const std::uint64_t coarse_end = read_coarse_timer();

  // The sleep lasts at least 50 ms; the tick count may lag by one system tick.
  EXPECT_GE(ticks_to_milliseconds(fast, fast_start, fast_end), 49);
  const std::int64_t coarse_ms = ticks_to_milliseconds(
      coarse, static_cast<std::int64_t>(coarse_start), static_cast<std::int64_t>(coarse_end));
  EXPECT_GE(coarse_ms, 50 - 16);
}

TEST(TimersLive, SystemTimerRateIsBetweenTheDefaultAndTheFinestResolution) {
  // 15.625 ms by default, 0.5 ms at the finest a program can ask for.
  const std::int64_t rate = coarse_timer_info().report_frequency;
  EXPECT_GE(rate, 64);
  EXPECT_LE(rate, 2000);
}

} // namespace
} // namespace velto
