// The once-a-second samples of a run's rate, taken by the reporter inside the
// timed loop, and the throttling they show.
#pragma once

#include "benchmark/run_records.hpp"
#include "engine/run_engine.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace velto {

/// The shortest run whose samples judge throttling, in seconds.
inline constexpr std::uint32_t min_throttle_duration = 10;

/// Takes one RateSample per second of the coarse timer into a buffer whose
/// room was reserved before the loop: it never allocates, locks or calls the
/// system, and stops taking samples when the room is full.
class RateSampler {
public:
  /// `buffer` is cleared; its capacity is all the room there is.
  RateSampler(std::vector<RateSample>& buffer, std::uint64_t updates_per_step);

  /// After every step of the reporter: samples when `elapsed_ms` (coarse
  /// timer, since the loop began) has reached the next whole second.
  void observe(std::int64_t elapsed_ms, const ProgressBoard& board) {
    if (elapsed_ms >= next_ms_) {
      take(elapsed_ms, board);
    }
  }

private:
  void take(std::int64_t elapsed_ms, const ProgressBoard& board);

  std::vector<RateSample>& buffer_;
  std::uint64_t updates_per_step_;
  std::int64_t next_ms_ = 1000;
  std::int64_t last_ms_ = 0;
  std::uint64_t last_iterations_ = 0; ///< summed over the threads
};

/// Room for one sample per second of a run of `duration` seconds, and a spare.
std::size_t sample_capacity(std::uint32_t duration);

/// The change, in percent, from the mean rate of the first fifth of the
/// samples after the first (which covers the first second) to the mean of the
/// last fifth (negative: the run slowed down). Nothing for runs shorter than
/// 10 s, with fewer than five samples after the first, or a first fifth
/// without work.
std::optional<double> throttle_percent(const std::vector<RateSample>& samples,
                                       std::uint32_t duration);

} // namespace velto
