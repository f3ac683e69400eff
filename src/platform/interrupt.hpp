// Interruptions of a run: Ctrl-C, Ctrl-Break and closing the console on
// Windows, SIGINT and SIGTERM on Linux. While an InterruptGuard lives, the
// first interruption raises a stop flag instead of ending the process and a
// second one ends the process at once; before and after the guard the process
// handles interruptions as it did.
//
// What one delivery does is decided here, in portable code (InterruptLatch);
// the operating system's handler in platform/<os>/interrupt.cpp only carries
// the decision out, so tests drive the decision without real signals.
#pragma once

#include <atomic>

namespace velto {

/// What the operating system's handler does after one delivery.
enum class InterruptAction {
  stop_run,    ///< the stop flag is raised: return and let the run wind down
  end_process, ///< end the process now, as the default handling would
};

/// The decision of every delivery. Each operation a handler calls is a
/// lock-free atomic operation, so it is safe inside a signal handler and on
/// the thread Windows runs console control handlers on. One guard at a time
/// arms the latch.
class InterruptLatch {
public:
  constexpr InterruptLatch() = default;
  InterruptLatch(const InterruptLatch&) = delete;
  InterruptLatch& operator=(const InterruptLatch&) = delete;

  /// From now on a delivery raises `stop`; forgets earlier deliveries. False,
  /// and nothing changes, when the latch is armed already.
  bool arm(std::atomic<bool>& stop) noexcept;

  /// From now on a delivery touches no flag. Returns once no delivery is still
  /// at work on the flag (one may run on another thread), with whether one came
  /// since arm().
  bool disarm() noexcept;

  /// One interruption. The first while armed raises the flag: stop_run. A
  /// later one while armed, or any while disarmed: end_process.
  InterruptAction deliver() noexcept;

  /// Whether an interruption came since arm(); meaningful while armed.
  bool interrupted() const noexcept;

private:
  std::atomic<bool> armed_{false};
  std::atomic<std::atomic<bool>*> stop_{nullptr};
  std::atomic<bool> delivered_{false};
  std::atomic<int> in_flight_{0};
};

/// The latch the operating system's handlers deliver to.
InterruptLatch& process_interrupt_latch() noexcept;

/// While it lives, an interruption raises `stop` (SIGINT and SIGTERM on Linux,
/// unless the process was started with them ignored; Ctrl-C, Ctrl-Break and
/// closing the console on Windows) and a second one ends the process at once:
/// on Linux by the signal's default action (status 130 for SIGINT), on Windows
/// by the default console handler. `stop` must outlive the guard. While another
/// guard lives this one does nothing.
class InterruptGuard {
public:
  explicit InterruptGuard(std::atomic<bool>& stop) noexcept;
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  /// Puts back the handling the guard found, now rather than at destruction.
  /// interrupted() keeps its answer afterwards.
  void restore() noexcept;

  /// Whether an interruption came while the guard was in force.
  bool interrupted() const noexcept;

private:
  bool armed_ = false;
  bool interrupted_ = false;
};

} // namespace velto
