// The thread-scaling series: its counts, its points and its table.
#include "benchmark/scaling.hpp"

#include "benchmark/run_summary.hpp"
#include "engine/console_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace velto {

std::vector<std::uint32_t> scaling_thread_counts(std::uint32_t automatic) {
  std::vector<std::uint32_t> counts;
  for (std::uint64_t t = 1; t < automatic; t *= 2) {
    counts.push_back(static_cast<std::uint32_t>(t));
  }
  counts.push_back(std::max<std::uint32_t>(automatic, 1));
  return counts;
}

ScalingPoint scaling_point(std::uint32_t threads, const std::vector<ScoreReport>& runs,
                           std::optional<double> roofline_mgups, std::optional<double> one_thread) {
  const RunSummary summary = summarize_runs(runs);
  ScalingPoint point;
  point.threads = threads;
  point.runs = summary.runs;
  point.valid_runs = summary.valid_runs;
  point.roofline_mgups = roofline_mgups;
  if (summary.valid_runs == 0) {
    return point;
  }
  point.median_mgups = summary.median;
  if (threads == 1) {
    one_thread = summary.median;
  }
  if (one_thread && *one_thread > 0.0) {
    point.speedup = summary.median / *one_thread;
    point.efficiency_pct = *point.speedup / threads * 100.0;
  }
  if (roofline_mgups && *roofline_mgups > 0.0) {
    point.roofline_pct = summary.median / *roofline_mgups * 100.0;
  }
  return point;
}

std::vector<std::string> scaling_table(const std::vector<ScalingPoint>& points,
                                       std::uint32_t runs_per_count, bool roofline) {
  const std::size_t columns = roofline ? 5 : 4;
  const auto figure = [](const std::optional<double>& value, const char* pattern) {
    return value ? fmt::format(fmt::runtime(pattern), *value) : std::string("-");
  };
  std::vector<TableRow> rows = {{"threads", "MGups", "speed-up", "efficiency", "of roofline"}};
  for (const ScalingPoint& p : points) {
    rows.push_back({fmt::format("{}", p.threads),
                    p.median_mgups ? fmt::format("{:.2f}", *p.median_mgups) : "invalid",
                    figure(p.speedup, "{:.2f}x"), figure(p.efficiency_pct, "{:.1f}%"),
                    figure(p.roofline_pct, "{:.1f}%")});
    rows.back().resize(columns);
  }
  rows.front().resize(columns);
  std::vector<std::string> lines = {
      runs_per_count > 1
          ? fmt::format("thread scaling, median of {} runs at each count", runs_per_count)
          : std::string("thread scaling")};
  for (std::string& line : table_lines(rows)) {
    lines.push_back(std::move(line));
  }
  return lines;
}

} // namespace velto
