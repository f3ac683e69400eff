#include "engine/start_barrier.hpp"

namespace velto {

StartBarrier::StartBarrier(std::ptrdiff_t participants)
    : expected_(participants > 0 ? participants : 0) {}

void StartBarrier::complete_if_all_arrived() {
  if (arrived_ < expected_) {
    return;
  }
  arrived_ = 0;
  ++phase_;
  phase_ended_.notify_all();
}

void StartBarrier::arrive_and_wait() {
  std::unique_lock lock(mutex_);
  const std::uint64_t phase = phase_;
  ++arrived_;
  complete_if_all_arrived();
  // The phase count, not a flag, is what the sleepers wait on: a late waker
  // must not mistake the next phase's empty count for its own phase.
  phase_ended_.wait(lock, [&] { return phase_ != phase; });
}

void StartBarrier::arrive_and_drop() {
  const std::lock_guard lock(mutex_);
  if (expected_ > 0) {
    --expected_;
  }
  complete_if_all_arrived();
}

} // namespace velto
