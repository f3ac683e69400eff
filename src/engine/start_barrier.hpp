// The barrier the workers of one run meet at: a reusable barrier of P
// participants that a participant can also leave for good.
//
// It is a mutex, a condition variable and a phase count rather than
// std::barrier: the standard library's barrier of the Windows toolchain waits
// through its atomic-wait fallback, which can miss a wake-up and leave a
// worker asleep at the common start forever.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>

namespace velto {

class StartBarrier {
public:
  explicit StartBarrier(std::ptrdiff_t participants);
  StartBarrier(const StartBarrier&) = delete;
  StartBarrier& operator=(const StartBarrier&) = delete;

  static constexpr std::ptrdiff_t max() noexcept {
    return std::numeric_limits<std::ptrdiff_t>::max();
  }

  /// Arrives at the current phase and waits until every participant has.
  void arrive_and_wait();

  /// Arrives at the current phase without waiting and leaves: later phases
  /// complete without this participant.
  void arrive_and_drop();

private:
  // Ends the current phase once everyone expected has arrived; the lock is held.
  void complete_if_all_arrived();

  std::mutex mutex_;
  std::condition_variable phase_ended_;
  std::ptrdiff_t expected_;
  std::ptrdiff_t arrived_ = 0;
  std::uint64_t phase_ = 0;
};

} // namespace velto
