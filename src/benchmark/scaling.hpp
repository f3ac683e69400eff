// The thread-scaling series behind --scaling: which thread counts it runs,
// what each count scored against one thread, and the table that ends it.
#pragma once

#include "benchmark/run_records.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto {

/// 1, 2, 4, … doubling while below `automatic`, then `automatic` itself; at
/// least the one count 1.
std::vector<std::uint32_t> scaling_thread_counts(std::uint32_t automatic);

/// One thread count of the series.
struct ScalingPoint {
  std::uint32_t threads = 0;
  std::uint32_t runs = 0;
  std::uint32_t valid_runs = 0;
  std::optional<double> median_mgups;   ///< of the valid runs
  std::optional<double> speedup;        ///< over the one-thread median
  std::optional<double> efficiency_pct; ///< speed-up / threads × 100
  std::optional<double> roofline_mgups; ///< measured for this count
  std::optional<double> roofline_pct;   ///< the median's share of it
  friend bool operator==(const ScalingPoint&, const ScalingPoint&) = default;
};

/// The point of `threads` from its runs, against `one_thread` (the median of
/// the series' first count, when it is 1 and had a valid run).
ScalingPoint scaling_point(std::uint32_t threads, const std::vector<ScoreReport>& runs,
                           std::optional<double> roofline_mgups, std::optional<double> one_thread);

/// The table that ends a series: a title, a header and a row per point;
/// the roofline column only when `roofline`.
std::vector<std::string> scaling_table(const std::vector<ScalingPoint>& points,
                                       std::uint32_t runs_per_count, bool roofline);

} // namespace velto
