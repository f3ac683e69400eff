// The live Linux clocks.
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
  ASSERT_EQ(fast.frequency, 1000000000);
  ASSERT_EQ(coarse.frequency, 1000);

  const std::int64_t fast_start = read_fast_timer();
  const std::uint64_t coarse_start = read_coarse_timer();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::int64_t fast_end = read_fast_timer();
  const std::uint64_t coarse_end = read_coarse_timer();

  // The sleep lasts at least 50 ms. The coarse clock shows the time of its last
  // tick, and under a virtual machine's tickless kernel a tick can come late:
  // its reading may lag by up to two ticks (seen: 45 ms at 250 Hz).
  EXPECT_GE(ticks_to_milliseconds(fast, fast_start, fast_end), 50);
  const std::int64_t coarse_ms = ticks_to_milliseconds(
      coarse, static_cast<std::int64_t>(coarse_start), static_cast<std::int64_t>(coarse_end));
  const std::int64_t coarse_tick_ms =
      coarse.report_frequency > 0 ? 1000 / coarse.report_frequency : 50;
  EXPECT_GE(coarse_ms, 50 - 2 * coarse_tick_ms);
}

TEST(TimersLive, CoarseTimerUpdatesAtTheKernelTickRate) {
  // CONFIG_HZ is 100 to 1000 on every kernel velto runs on.
  const std::int64_t rate = coarse_timer_info().report_frequency;
  EXPECT_GE(rate, 100);
  EXPECT_LE(rate, 1000);
}

} // namespace
} // namespace velto
