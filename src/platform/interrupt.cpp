// The decision of each interruption, the same on every OS.
#include "platform/interrupt.hpp"

#include <thread>

namespace velto {

// A signal handler may touch lock-free atomics only.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

bool InterruptLatch::arm(std::atomic<bool>& stop) noexcept {
  if (armed_.exchange(true)) {
    return false;
  }
  delivered_.store(false);
  stop_.store(&stop);
  return true;
}

bool InterruptLatch::disarm() noexcept {
  stop_.store(nullptr);
  // A delivery that found the flag before it was withdrawn counted itself in
  // first (sequentially consistent, both sides): wait until it has let go, so
  // that the flag can be destroyed after this returns. A handler on this very
  // thread cannot be among them: it interrupted this thread and has returned.
  while (in_flight_.load() != 0) {
    std::this_thread::yield();
  }
  const bool delivered = delivered_.load();
  armed_.store(false);
  return delivered;
}

InterruptAction InterruptLatch::deliver() noexcept {
  in_flight_.fetch_add(1);
  InterruptAction action = InterruptAction::end_process;
  if (std::atomic<bool>* stop = stop_.load(); stop != nullptr && !delivered_.exchange(true)) {
    stop->store(true, std::memory_order_release);
    action = InterruptAction::stop_run;
  }
  in_flight_.fetch_sub(1);
  return action;
}

bool InterruptLatch::interrupted() const noexcept {
  return delivered_.load();
}

namespace {
// Constant-initialised: no guard variable for a handler to trip over.
constinit InterruptLatch process_latch;
} // namespace

InterruptLatch& process_interrupt_latch() noexcept {
  return process_latch;
}

InterruptGuard::~InterruptGuard() {
  restore();
}

bool InterruptGuard::interrupted() const noexcept {
  return armed_ ? process_interrupt_latch().interrupted() : interrupted_;
}

} // namespace velto
