#include "benchmark/scaling.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto {
namespace {

TEST(Scaling, ThreadCountsDoubleUpToTheAutomaticCount) {
  struct Case {
    const char* machine;
    std::uint32_t automatic;
    std::vector<std::uint32_t> counts;
  };
  const Case cases[] = {
      {"no count known", 0, {1}},
      {"one core", 1, {1}},
      {"two cores", 2, {1, 2}},
      {"three cores", 3, {1, 2, 3}},
      {"six cores", 6, {1, 2, 4, 6}},
      {"sixteen cores", 16, {1, 2, 4, 8, 16}},
      {"two sockets of 12 cores", 24, {1, 2, 4, 8, 16, 24}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scaling_thread_counts(c.automatic), c.counts) << c.machine;
  }
}

std::vector<ScoreReport> runs_of(std::vector<double> scores) {
  std::vector<ScoreReport> runs(scores.size());
  for (std::size_t i = 0; i < scores.size(); ++i) {
    if (scores[i] > 0) {
      runs[i].verdict = Verdict::valid_with(scores[i]);
    }
  }
  return runs;
}

TEST(Scaling, PointsCompareTheMedianWithOneThreadAndTheRoofline) {
  struct Case {
    const char* name;
    std::uint32_t threads;
    std::vector<double> scores; ///< 0 is an invalid run
    std::optional<double> roofline;
    std::optional<double> one_thread;
    ScalingPoint expected;
  };
  const Case cases[] = {
      {"one thread is its own base",
       1,
       {110, 100, 90},
       400.0,
       std::nullopt,
       {1, 3, 3, 100.0, 1.0, 100.0, 400.0, 25.0}},
      {"invalid runs do not count",
       4,
       {300, 0},
       600.0,
       100.0,
       {4, 2, 1, 300.0, 3.0, 75.0, 600.0, 50.0}},
      {"no one-thread score",
       2,
       {150},
       std::nullopt,
       std::nullopt,
       {2, 1, 1, 150.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
      {"no valid run",
       2,
       {0},
       600.0,
       100.0,
       {2, 1, 0, std::nullopt, std::nullopt, std::nullopt, 600.0, std::nullopt}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scaling_point(c.threads, runs_of(c.scores), c.roofline, c.one_thread), c.expected)
        << c.name;
  }
}

TEST(Scaling, TableHasARowPerCountAndTheRooflineColumnOnlyWhenMeasured) {
  const std::vector<ScalingPoint> points = {
      {1, 3, 3, 328.1, 1.0, 100.0, 395.3, 83.0},
      {2, 3, 0, std::nullopt, std::nullopt, std::nullopt, 558.5, std::nullopt},
      {4, 3, 3, 1100.25, 3.3534, 83.8, std::nullopt, std::nullopt},
  };
  EXPECT_EQ(scaling_table(points, 3, true),
            (std::vector<std::string>{"thread scaling, median of 3 runs at each count",
                                      "threads    MGups  speed-up  efficiency  of roofline",
                                      "      1   328.10     1.00x      100.0%        83.0%",
                                      "      2  invalid         -           -            -",
                                      "      4  1100.25     3.35x       83.8%            -"}));
  EXPECT_EQ(scaling_table({points[0]}, 1, false),
            (std::vector<std::string>{"thread scaling", "threads   MGups  speed-up  efficiency",
                                      "      1  328.10     1.00x      100.0%"}));
}

} // namespace
} // namespace velto
