#include "benchmark/report.hpp"

#include "engine/version.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace velto {
namespace {

constexpr const char* invalid_banner =
    "==================\n  invalid result \n==================\n";

struct Printed {
  ScoreReport report;
  std::string out;
  std::string err;
};

Printed report_of(const RunResult& result) {
  std::ostringstream out;
  std::ostringstream err;
  const ScoreReport report = print_report(result, "Test CPU @ 1.00GHz", out, err);
  return {report, out.str(), err.str()};
}

RunResult run_of(std::uint32_t expected, std::vector<ThreadResult> results) {
  return RunResult{
      RunEnd::finished, expected, std::move(results), WorkloadKind::standing_wave, {}, {}};
}

TEST(Report, ValidRunPrintsTableInFinishingOrderAndScore) {
  const Printed p =
      report_of(run_of(2, {{1, 1000, 1000000, 10, 5242880}, {0, 1001, 1000500, 12, 6291456}}));
  EXPECT_TRUE(p.report.verdict.valid());
  EXPECT_DOUBLE_EQ(p.report.verdict.score(), 5.24288 + 6.291456 / 1.0005);
  EXPECT_EQ(p.out, "thread  grid updates   time  MGups  iterations\n"
                   "     1       5242880  1.00s   5.24          10\n"
                   "     0       6291456  1.00s   6.29          12\n"
                   "===============\n"
                   "  valid result \n"
                   "===============\n"
                   "velto v" +
                       std::string(velto_version) +
                       " standing_wave\n"
                       "Test CPU @ 1.00GHz\n"
                       "final score: 11.53 MGups\n");
  EXPECT_EQ(p.err, "");
}

TEST(Report, ColumnsWidenToTheirLongestCell) {
  const Printed p =
      report_of(run_of(2, {{0, 30000, 30000000, 0, 0},
                           {12345678, 30000, 30000000, 123456789012, 18446744073709551615u}}));
  EXPECT_EQ(p.out.substr(0, p.out.find("=====")),
            "  thread          grid updates    time            MGups    iterations\n"
            "       0                     0  30.00s             0.00             0\n"
            "12345678  18446744073709551615  30.00s  614891469123.65  123456789012\n");
}

TEST(Report, RunsThatAreNotValid) {
  struct Case {
    const char* name;
    RunResult result;
    std::string err;
  };
  const Case cases[] = {
      {"stopped, even with every result",
       RunResult{
           RunEnd::stopped, 1, {{0, 1000, 1000000, 1, 1}}, WorkloadKind::soft_gaussian, {}, {}},
       invalid_banner},
      {"a result missing", run_of(2, {{1, 1000, 1000000, 1, 1}}),
       std::string(invalid_banner) + "not all threads produced a result\n"},
      {"aborted before any thread ran",
       RunResult{RunEnd::not_started, 4, {}, WorkloadKind::standing_wave, {}, {}},
       std::string(invalid_banner) + "not all threads produced a result\n"},
  };
  for (const Case& c : cases) {
    const Printed p = report_of(c.result);
    EXPECT_FALSE(p.report.verdict.valid()) << c.name;
    EXPECT_EQ(p.out, "") << c.name;
    EXPECT_EQ(p.err, c.err) << c.name;
  }
}

TEST(Report, AnInterruptedRunGetsTheBannerAloneWhateverItsResults) {
  RunResult result = run_of(2, {{1, 1000, 1000000, 10, 5242880}, {0, 1001, 1000500, 12, 6291456}});
  result.end = RunEnd::stopped;
  result.problems.push_back({RunIssue::interrupted, "run interrupted; aborting"});
  const Printed p = report_of(result);
  EXPECT_FALSE(p.report.verdict.valid());
  EXPECT_TRUE(p.report.verdict.interrupted());
  EXPECT_EQ(p.report.verdict.score(), 0.0);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err, invalid_banner);
  EXPECT_FALSE(report_of(run_of(1, {{0, 1000, 1000000, 1, 1}})).report.verdict.interrupted());
}

TEST(Report, TimersMustAgreeWithinThirtyTwoWholeMilliseconds) {
  struct Case {
    std::int64_t coarse_ms;
    std::int64_t fast_us;
    bool valid;
    std::int64_t fast_ms; // as the message shows it
  };
  const Case cases[] = {
      {0, 31999, true, 31},
      {0, 32000, false, 32},
      {1000, 1031999, true, 1031},
      {1000, 1032000, false, 1032},
      {1000, 969000, true, 969},
      {1000, 968500, false, 968},
      {1032, 1000000, false, 1000},
      {1031, 1000999, true, 1000},
      {INT64_MIN, INT64_MAX, false, INT64_MAX / 1000},
  };
  for (const Case& c : cases) {
    const Printed p = report_of(run_of(1, {{0, c.coarse_ms, c.fast_us, 100, 100000000}}));
    EXPECT_EQ(p.report.verdict.valid(), c.valid) << c.coarse_ms << " " << c.fast_us;
    EXPECT_NE(p.out.find("thread  grid updates"), std::string::npos) << "table is always printed";
    if (c.valid) {
      EXPECT_EQ(p.err, "");
    } else {
      EXPECT_EQ(p.err, std::string(invalid_banner) +
                           "disagreement between timers for total work is larger than tolerance\n"
                           "fast timer = " +
                           std::to_string(c.fast_ms) +
                           "ms    coarse timer = " + std::to_string(c.coarse_ms) + "ms\n")
          << c.coarse_ms << " " << c.fast_us;
      EXPECT_EQ(p.out.find("valid result"), std::string::npos);
    }
  }
}

TEST(Report, FirstDisagreeingThreadEndsTheCheck) {
  const Printed p = report_of(
      run_of(3, {{2, 1000, 1000000, 1, 1}, {0, 1000, 1100000, 1, 1}, {1, 1000, 1200000, 1, 1}}));
  EXPECT_FALSE(p.report.verdict.valid());
  EXPECT_NE(p.err.find("fast timer = 1100ms    coarse timer = 1000ms\n"), std::string::npos);
  EXPECT_EQ(p.err.find("1200ms"), std::string::npos);
}

TEST(Report, ScoreFormats) {
  struct Case {
    double score;
    const char* text;
  };
  const Case cases[] = {
      {100.0, "100 MGups"},
      {100.01, "100.01 MGups"},
      {2.5, "2.5 MGups"},
      {50.0, "50 MGups"},
      {0.0, "0 MGups"},
      {99.996, "100 MGups"},
      {12345.678, "12345.68 MGups"},
      {1.23456, "1.235 MGups"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_score(c.score), c.text) << c.score;
  }
}

} // namespace
} // namespace velto
