// The spread of repeated runs: median, extremes, mean and deviation of the
// valid runs' scores, and the line that closes a series on the console.
#pragma once

#include "benchmark/run_records.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

/// Over the valid runs of a series; the figures are 0 when no run was valid.
struct RunSummary {
  std::uint32_t runs = 0;
  std::uint32_t valid_runs = 0;
  double median = 0.0; ///< MGups; the mean of the middle two for an even count
  double min = 0.0;    ///< MGups
  double max = 0.0;    ///< MGups
  double mean = 0.0;   ///< MGups
  double stddev = 0.0; ///< MGups, sample standard deviation; 0 below two valid runs
  double spread = 0.0; ///< percent: (max - min) / median × 100
};

/// The summary of `reports`, in any order.
RunSummary summarize_runs(const std::vector<ScoreReport>& reports);

/// "runs: 3, valid: 3, median 412.30 MGups, min 405.12, max 420.90, spread 3.8%",
/// or "runs: 3, valid: 0" when no run was valid.
std::string summary_line(const RunSummary& summary);

} // namespace velto
