// The rate samples and the throttling verdict.
#include "benchmark/rate_samples.hpp"

namespace velto {

RateSampler::RateSampler(std::vector<RateSample>& buffer, std::uint64_t updates_per_step)
    : buffer_(buffer), updates_per_step_(updates_per_step) {
  buffer_.clear();
}

void RateSampler::take(std::int64_t elapsed_ms, const ProgressBoard& board) {
  std::uint64_t summed = 0;
  std::uint64_t fastest = 0;
  for (std::uint32_t i = 0; i < board.size(); ++i) {
    const std::uint64_t done = board[i].iterations.load(std::memory_order_relaxed);
    summed += done;
    fastest = done > fastest ? done : fastest;
  }
  // A step that took longer than a second skips the seconds it covered.
  next_ms_ = (elapsed_ms / 1000 + 1) * 1000;
  if (buffer_.size() == buffer_.capacity()) {
    return;
  }
  const double seconds = static_cast<double>(elapsed_ms - last_ms_) / 1000.0;
  const double updates = static_cast<double>((summed - last_iterations_) * updates_per_step_);
  buffer_.push_back({static_cast<double>(elapsed_ms) / 1000.0, updates / 1e6 / seconds, fastest});
  last_ms_ = elapsed_ms;
  last_iterations_ = summed;
}

std::size_t sample_capacity(std::uint32_t duration) {
  return static_cast<std::size_t>(duration) + 1;
}

std::optional<double> throttle_percent(const std::vector<RateSample>& samples,
                                       std::uint32_t duration) {
  if (duration < min_throttle_duration) {
    return std::nullopt;
  }
  // The first sample covers the first second, which holds the warm-up
  // (caches, page faults, the frequency ramp).
  std::vector<double> rates;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    rates.push_back(samples[i].rate_mgups);
  }
  const std::size_t fifth = rates.size() / 5;
  if (fifth == 0) {
    return std::nullopt;
  }
  double first = 0.0;
  double last = 0.0;
  for (std::size_t i = 0; i < fifth; ++i) {
    first += rates[i];
    last += rates[rates.size() - fifth + i];
  }
  if (first <= 0.0) {
    return std::nullopt;
  }
  return (last - first) / first * 100.0;
}

} // namespace velto
