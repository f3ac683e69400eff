// Interruptions on Linux: SIGINT (Ctrl-C at the terminal) and SIGTERM.
#include "platform/interrupt.hpp"

#include <cerrno>

#include <signal.h>

namespace velto {

namespace {

constexpr int handled_signals[] = {SIGINT, SIGTERM};
constexpr int signal_count = 2;

// What the armed guard found and replaced; one guard at a time is armed.
struct sigaction previous_actions[signal_count];
bool replaced[signal_count] = {};

// Only async-signal-safe calls: the latch's atomics, sigaction, raise.
void on_interrupt(int signal_number) {
  const int saved_errno = errno;
  if (process_interrupt_latch().deliver() == InterruptAction::end_process) {
    // As if no handler had been there: the default action ends the process
    // (killed by SIGINT, status 130 in a shell). The signal stays blocked
    // until this handler returns, and is delivered then.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
  }
  errno = saved_errno;
}

bool is_ignored(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

} // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& stop) noexcept {
  if (!process_interrupt_latch().arm(stop)) {
    return;
  }
  armed_ = true;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : handled_signals) {
    sigaddset(&action.sa_mask, signal_number); // one handler at a time
  }
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < signal_count; ++i) {
    replaced[i] = false;
    struct sigaction current {};
    // A signal the process was started with ignored (nohup, a background job
    // of a shell without job control) stays ignored.
    if (sigaction(handled_signals[i], nullptr, &current) != 0 || is_ignored(current)) {
      continue;
    }
    replaced[i] = sigaction(handled_signals[i], &action, &previous_actions[i]) == 0;
  }
}

void InterruptGuard::restore() noexcept {
  if (!armed_) {
    return;
  }
  for (int i = 0; i < signal_count; ++i) {
    if (replaced[i]) {
      sigaction(handled_signals[i], &previous_actions[i], nullptr);
      replaced[i] = false;
    }
  }
  interrupted_ = process_interrupt_latch().disarm();
  armed_ = false;
}

} // namespace velto
