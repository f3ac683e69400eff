// The summary of a series of runs.
#include "benchmark/run_summary.hpp"

#include "engine/statistics.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace velto {

RunSummary summarize_runs(const std::vector<ScoreReport>& reports) {
  RunSummary summary;
  summary.runs = static_cast<std::uint32_t>(reports.size());
  std::vector<double> scores;
  for (const ScoreReport& report : reports) {
    if (report.verdict.valid()) {
      scores.push_back(report.verdict.score());
    }
  }
  summary.valid_runs = static_cast<std::uint32_t>(scores.size());
  if (scores.empty()) {
    return summary;
  }
  const std::size_t n = scores.size();
  summary.median = *median_of(scores);
  summary.min = *std::min_element(scores.begin(), scores.end());
  summary.max = *std::max_element(scores.begin(), scores.end());
  double sum = 0.0;
  for (double s : scores) {
    sum += s;
  }
  summary.mean = sum / static_cast<double>(n);
  if (n >= 2) {
    double squares = 0.0;
    for (double s : scores) {
      squares += (s - summary.mean) * (s - summary.mean);
    }
    summary.stddev = std::sqrt(squares / static_cast<double>(n - 1));
  }
  summary.spread =
      summary.median > 0.0 ? (summary.max - summary.min) / summary.median * 100.0 : 0.0;
  return summary;
}

std::string summary_line(const RunSummary& summary) {
  if (summary.valid_runs == 0) {
    return fmt::format("runs: {}, valid: 0", summary.runs);
  }
  return fmt::format("runs: {}, valid: {}, median {:.2f} MGups, min {:.2f}, max {:.2f}, "
                     "spread {:.1f}%",
                     summary.runs, summary.valid_runs, summary.median, summary.min, summary.max,
                     summary.spread);
}

} // namespace velto
