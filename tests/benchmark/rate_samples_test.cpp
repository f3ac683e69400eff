#include "benchmark/rate_samples.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace velto {
namespace {

TEST(RateSamples, OnePerCoarseSecondIntoTheReservedRoomOnly) {
  ProgressBoard board(2);
  std::vector<RateSample> buffer;
  buffer.reserve(sample_capacity(3)); // 4
  const RateSample* const room = buffer.data();
  RateSampler sampler(buffer, 1000000); // one million updates per step
  // (elapsed ms, thread 0 iterations, thread 1 iterations)
  struct Step {
    std::int64_t ms;
    std::uint64_t it0;
    std::uint64_t it1;
  };
  const Step steps[] = {
      {0, 0, 0},      {999, 9, 8},    {1000, 10, 8}, // the first second ends at 1000 ms
      {1500, 15, 12}, {2002, 20, 18},                // then at 2002
      {4100, 40, 41},                                // a long step: seconds 3 and 4 in one
      {5000, 50, 51}, {6000, 60, 61},                // the room is full after this one
      {7000, 70, 71},
  };
  for (const Step& s : steps) {
    board[0].iterations = s.it0;
    board[1].iterations = s.it1;
    sampler.observe(s.ms, board);
  }
  const std::vector<RateSample> expected = {
      {1.0, 18.0 * 1e6 / 1e6 / 1.0, 10}, // 18 steps in 1 s: 18 MGups
      {2.002, 20.0 / 1.002, 20},         // 38 - 18 steps in 1.002 s
      {4.1, (81.0 - 38.0) / 2.098, 41},  // the fastest thread is thread 1 now
      {5.0, (101.0 - 81.0) / 0.9, 51},
  };
  ASSERT_EQ(buffer.size(), expected.size());
  EXPECT_EQ(buffer.data(), room); // never reallocated
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_DOUBLE_EQ(buffer[i].t_s, expected[i].t_s) << i;
    EXPECT_NEAR(buffer[i].rate_mgups, expected[i].rate_mgups, 1e-9) << i;
    EXPECT_EQ(buffer[i].iterations, expected[i].iterations) << i;
  }
}

std::vector<RateSample> rates(std::vector<double> values) {
  std::vector<RateSample> samples;
  for (std::size_t i = 0; i < values.size(); ++i) {
    samples.push_back({static_cast<double>(i + 1), values[i], 0});
  }
  return samples;
}

TEST(RateSamples, ThrottleComparesTheFirstAndLastFifthAfterTheWarmUp) {
  struct Case {
    const char* what;
    std::vector<RateSample> samples;
    std::uint32_t duration;
    std::optional<double> percent;
  };
  const Case cases[] = {
      {"steady", rates({50, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100}), 10, 0.0},
      // The first sample (warm-up) is left out; 10 remain, fifths of 2.
      {"slowed by a tenth", rates({1, 100, 100, 95, 95, 95, 95, 95, 95, 90, 90}), 10, -10.0},
      {"faster at the end", rates({1, 200, 200, 210, 210, 210, 210, 210, 210, 220, 220}), 10, 10.0},
      {"a fifth of 12 is 2", rates({1, 100, 100, 7, 7, 7, 7, 7, 7, 7, 7, 110, 110}), 12, 10.0},
      {"shorter than 10 s", rates({1, 100, 100, 100, 100, 100, 100, 100, 100}), 9, std::nullopt},
      {"too few samples", rates({1, 100, 100, 100, 100}), 10, std::nullopt},
      {"no work at first", rates({1, 0, 0, 0, 0, 0, 0, 0, 0, 100, 100}), 10, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<double> got = throttle_percent(c.samples, c.duration);
    ASSERT_EQ(got.has_value(), c.percent.has_value()) << c.what;
    if (got) {
      EXPECT_NEAR(*got, *c.percent, 1e-9) << c.what;
    }
  }
}

} // namespace
} // namespace velto
