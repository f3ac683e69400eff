// The guard with real signals: SIGINT and SIGTERM raised at this process.
#include "platform/interrupt.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cstdlib>

namespace velto {
namespace {

volatile sig_atomic_t earlier_handler_calls = 0;

void earlier_handler(int) {
  earlier_handler_calls = earlier_handler_calls + 1;
}

// Installs `handler` for `signal_number` and puts back what was there at the end.
class ScopedDisposition {
public:
  ScopedDisposition(int signal_number, void (*handler)(int)) : signal_number_(signal_number) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number_, &action, &saved_);
  }
  ~ScopedDisposition() { sigaction(signal_number_, &saved_, nullptr); }
  ScopedDisposition(const ScopedDisposition&) = delete;
  ScopedDisposition& operator=(const ScopedDisposition&) = delete;

private:
  int signal_number_;
  struct sigaction saved_ {};
};

void (*current_handler(int signal_number))(int) {
  struct sigaction action {};
  sigaction(signal_number, nullptr, &action);
  return action.sa_handler;
}

TEST(InterruptSignals, EitherSignalRaisesTheFlagAndTheEarlierHandlingComesBack) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    const ScopedDisposition earlier(signal_number, earlier_handler);
    earlier_handler_calls = 0;
    std::atomic<bool> stop{false};
    {
      InterruptGuard guard(stop);
      ASSERT_EQ(raise(signal_number), 0);
      EXPECT_TRUE(stop.load()) << signal_number;
      EXPECT_TRUE(guard.interrupted()) << signal_number;
      EXPECT_EQ(earlier_handler_calls, 0) << signal_number;
    }
    EXPECT_EQ(current_handler(signal_number), &earlier_handler) << signal_number;
    stop = false;
    ASSERT_EQ(raise(signal_number), 0);
    EXPECT_EQ(earlier_handler_calls, 1) << signal_number;
    EXPECT_FALSE(stop.load()) << signal_number;
  }
}

TEST(InterruptSignals, ASignalTheProcessIgnoresStaysIgnored) {
  const ScopedDisposition ignored(SIGINT, SIG_IGN);
  const ScopedDisposition by_default(SIGTERM, SIG_DFL);
  std::atomic<bool> stop{false};
  InterruptGuard guard(stop);
  EXPECT_EQ(current_handler(SIGINT), SIG_IGN);
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_FALSE(stop.load());
  EXPECT_FALSE(guard.interrupted());
  EXPECT_NE(current_handler(SIGTERM), SIG_IGN); // the other one is caught
}

// The process that gets the second interruption ends by the signal's default
// action, as it would have without the guard (a shell shows status 130 for SIGINT).
TEST(InterruptSignalsDeathTest, ASecondInterruptionEndsTheProcessAtOnce) {
  const auto second_interruption = [](int first, int second) {
    // Caught only where not ignored from the start.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    std::atomic<bool> stop{false};
    InterruptGuard guard(stop);
    raise(first);
    if (!stop.load()) {
      std::_Exit(3); // the first one did not stop the run
    }
    raise(second);
    std::_Exit(0); // not reached
  };
  EXPECT_EXIT(second_interruption(SIGINT, SIGINT), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EXIT(second_interruption(SIGTERM, SIGINT), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EXIT(second_interruption(SIGINT, SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
}

} // namespace
} // namespace velto
