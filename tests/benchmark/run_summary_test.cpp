#include "benchmark/run_summary.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto {
namespace {

ScoreReport run(double score, bool valid = true) {
  ScoreReport report;
  report.verdict = valid ? Verdict::valid_with(score)
                         : Verdict::invalid_for({{RunIssue::worker_failed, "failed"}});
  return report;
}

TEST(RunSummary, FiguresAndLineOverTheValidRuns) {
  struct Case {
    std::vector<ScoreReport> runs;
    std::string line;
    double mean;
    double stddev;
  };
  const Case cases[] = {
      {{run(405.12), run(420.90), run(412.30)},
       "runs: 3, valid: 3, median 412.30 MGups, min 405.12, max 420.90, spread 3.8%",
       412.77333333333331,
       7.9007},
      // An invalid run counts in "runs" only, whatever score it carries.
      {{run(100.0), run(9999.0, false), run(110.0)},
       "runs: 3, valid: 2, median 105.00 MGups, min 100.00, max 110.00, spread 9.5%",
       105.0,
       7.0711},
      {{run(50.0)},
       "runs: 1, valid: 1, median 50.00 MGups, min 50.00, max 50.00, spread 0.0%",
       50.0,
       0.0},
      {{run(1.0, false), run(2.0, false), run(3.0, false)}, "runs: 3, valid: 0", 0.0, 0.0},
      {{}, "runs: 0, valid: 0", 0.0, 0.0},
  };
  for (const Case& c : cases) {
    const RunSummary s = summarize_runs(c.runs);
    EXPECT_EQ(summary_line(s), c.line);
    EXPECT_NEAR(s.mean, c.mean, 1e-9) << c.line;
    EXPECT_NEAR(s.stddev, c.stddev, 1e-4) << c.line;
    EXPECT_LE(s.min, s.median) << c.line;
    EXPECT_LE(s.median, s.max) << c.line;
  }
}

} // namespace
} // namespace velto
