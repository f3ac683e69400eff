// What one interruption does, through the same calls the operating system's
// handlers make (SIGINT/SIGTERM on Linux, the console control handler on
// Windows), without sending a real signal.
#include "platform/interrupt.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace velto {
namespace {

TEST(InterruptLatch, FirstDeliveryRaisesTheFlagAndTheNextEndsTheProcess) {
  InterruptLatch latch;
  std::atomic<bool> stop{false};
  // Disarmed, a delivery is the default handling.
  EXPECT_EQ(latch.deliver(), InterruptAction::end_process);
  EXPECT_FALSE(stop.load());

  ASSERT_TRUE(latch.arm(stop));
  EXPECT_FALSE(latch.interrupted());
  EXPECT_EQ(latch.deliver(), InterruptAction::stop_run);
  EXPECT_TRUE(stop.load());
  EXPECT_TRUE(latch.interrupted());
  EXPECT_EQ(latch.deliver(), InterruptAction::end_process);
  EXPECT_EQ(latch.deliver(), InterruptAction::end_process);
  EXPECT_TRUE(latch.disarm());

  EXPECT_EQ(latch.deliver(), InterruptAction::end_process);
}

TEST(InterruptLatch, ArmingStartsAfreshAndOnlyOnce) {
  InterruptLatch latch;
  std::atomic<bool> first{false};
  std::atomic<bool> second{false};
  ASSERT_TRUE(latch.arm(first));
  EXPECT_FALSE(latch.arm(second)); // one guard at a time
  EXPECT_EQ(latch.deliver(), InterruptAction::stop_run);
  EXPECT_TRUE(first.load());
  EXPECT_FALSE(second.load());
  EXPECT_TRUE(latch.disarm());

  first = false;
  ASSERT_TRUE(latch.arm(second));
  EXPECT_FALSE(latch.interrupted()); // the earlier delivery is forgotten
  EXPECT_FALSE(latch.disarm());      // nothing came this time
  EXPECT_FALSE(first.load());
  EXPECT_FALSE(second.load());
}

// Windows delivers on a thread of its own, Linux on any thread of the process.
TEST(InterruptLatch, DeliveriesFromManyThreadsStopTheRunOnce) {
  InterruptLatch latch;
  std::atomic<bool> stop{false};
  ASSERT_TRUE(latch.arm(stop));
  std::atomic<int> stops{0};
  std::atomic<int> ends{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        (latch.deliver() == InterruptAction::stop_run ? stops : ends)++;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(stops.load(), 1);
  EXPECT_EQ(ends.load(), 799);
  EXPECT_TRUE(stop.load());
  EXPECT_TRUE(latch.disarm());
}

// Once disarm returns, no delivery touches the flag any more, so the run may
// destroy it (the sanitizer builds see a use after its end).
TEST(InterruptLatch, DisarmWaitsForADeliveryOnAnotherThread) {
  InterruptLatch latch;
  std::atomic<bool> done{false};
  std::thread deliverer([&] {
    while (!done.load()) {
      latch.deliver();
    }
  });
  for (int round = 0; round < 2000; ++round) {
    auto stop = std::make_unique<std::atomic<bool>>(false);
    ASSERT_TRUE(latch.arm(*stop));
    latch.disarm();
    stop.reset();
  }
  done = true;
  deliverer.join();
}

TEST(InterruptGuard, TheHandlersDeliveryRaisesTheRunsFlagWhileItLives) {
  std::atomic<bool> stop{false};
  {
    InterruptGuard guard(stop);
    EXPECT_FALSE(guard.interrupted());
    // What the OS handler calls for Ctrl-C, SIGINT or SIGTERM.
    EXPECT_EQ(process_interrupt_latch().deliver(), InterruptAction::stop_run);
    EXPECT_TRUE(stop.load());
    EXPECT_TRUE(guard.interrupted());
    // A second one: the handler ends the process.
    EXPECT_EQ(process_interrupt_latch().deliver(), InterruptAction::end_process);
    guard.restore();
    EXPECT_TRUE(guard.interrupted()); // kept after the handling is put back
    guard.restore();                  // once is enough
    EXPECT_TRUE(guard.interrupted());
  }
  // Outside a guard an interruption is handled as by default.
  stop = false;
  EXPECT_EQ(process_interrupt_latch().deliver(), InterruptAction::end_process);
  EXPECT_FALSE(stop.load());

  // The next guard starts afresh.
  InterruptGuard next(stop);
  EXPECT_FALSE(next.interrupted());
}

TEST(InterruptGuard, AGuardInsideAnotherDoesNothing) {
  std::atomic<bool> outer_stop{false};
  std::atomic<bool> inner_stop{false};
  InterruptGuard outer(outer_stop);
  {
    InterruptGuard inner(inner_stop);
    EXPECT_EQ(process_interrupt_latch().deliver(), InterruptAction::stop_run);
    EXPECT_FALSE(inner.interrupted());
  }
  EXPECT_TRUE(outer_stop.load());
  EXPECT_FALSE(inner_stop.load());
  EXPECT_TRUE(outer.interrupted()); // the inner guard's end left the outer one in force
}

} // namespace
} // namespace velto
