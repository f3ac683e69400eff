// The result table, the verdict and the score line.
#include "bench/report.hpp"

#include "platform/cpu.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velto {

namespace {

// The timers of one thread may disagree by up to 31 whole milliseconds.
constexpr std::uint64_t timer_tolerance_ms = 32;

std::uint64_t absolute_difference(std::int64_t a, std::int64_t b) {
  // In unsigned arithmetic so that readings far apart cannot overflow.
  const auto ua = static_cast<std::uint64_t>(a);
  const auto ub = static_cast<std::uint64_t>(b);
  return a >= b ? ua - ub : ub - ua;
}

} // namespace

void print_table_row(std::ostream& out, const TableRow& cells, const TableWidths& widths) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) {
      line += "  ";
    }
    line += fmt::format("{:>{}}", cells[i], widths[i]);
  }
  write_line(out, line);
}

void print_invalid_banner(std::ostream& err) {
  write_line(err, "==================");
  write_line(err, "  invalid result ");
  write_line(err, "==================");
}

void print_warning_banner(std::ostream& err) {
  write_line(err, "===========");
  write_line(err, "  warning  ");
  write_line(err, "===========");
}

std::string format_score(double score) {
  if (score > 100.0) {
    return fmt::format("{:.2f} MGups", score);
  }
  return fmt::format("{:.4g} MGups", score);
}

bool ScoreReport::interrupted() const {
  return std::any_of(problems.begin(), problems.end(),
                     [](const RunProblem& p) { return p.issue == RunIssue::interrupted; });
}

ScoreReport judge_run(const RunResult& result) {
  ScoreReport report;
  report.problems = result.problems;
  report.facts = result.facts;
  // A run stopped early, by a failure or by the user, has no verdict but its banner.
  if (result.stop_raised || report.interrupted()) {
    return report;
  }
  if (result.results.size() < result.expected_threads) {
    report.problems.push_back({RunIssue::results_missing, "not all threads produced a result"});
    return report;
  }
  for (const ThreadResult& r : result.results) {
    const double millions = static_cast<double>(r.updates) / 1000000.0;
    const double seconds = static_cast<double>(r.fast_us) / 1000000.0;
    const double rate = millions / seconds;
    report.threads.push_back({r, seconds, rate});
    report.score += rate;
  }
  for (const ThreadResult& r : result.results) {
    const std::int64_t fast_ms = r.fast_us / 1000;
    if (absolute_difference(fast_ms, r.coarse_ms) >= timer_tolerance_ms) {
      report.problems.push_back(
          {RunIssue::timers_disagree,
           fmt::format("disagreement between timers for total work is larger than tolerance\n"
                       "fast timer = {}ms    coarse timer = {}ms",
                       fast_ms, r.coarse_ms)});
      return report;
    }
  }
  report.valid = report.problems.empty();
  return report;
}

ScoreReport print_report(const RunResult& result, std::string_view brand, std::ostream& out,
                         std::ostream& err) {
  ScoreReport report = judge_run(result);
  // Problems found before the report were printed when they happened; the
  // report shows its own after the banner.
  const auto own_problems =
      report.problems.begin() + static_cast<std::ptrdiff_t>(result.problems.size());
  if (report.threads.empty() && !report.valid) {
    print_invalid_banner(err);
    for (auto p = own_problems; p != report.problems.end(); ++p) {
      write_line(err, p->message);
    }
    return report;
  }

  std::vector<TableRow> rows;
  rows.reserve(report.threads.size());
  for (const ThreadScore& t : report.threads) {
    const ThreadResult& r = t.result;
    rows.push_back({fmt::format("{}", r.thread_index), fmt::format("{}", r.updates),
                    fmt::format("{:.2f}s", t.seconds), fmt::format("{:.2f}", t.rate),
                    fmt::format("{}", r.iterations)});
  }

  const TableRow header = {"thread", "grid updates", "time", "MGups", "iterations"};
  TableWidths widths{};
  for (std::size_t i = 0; i < header.size(); ++i) {
    widths[i] = header[i].size();
    for (const TableRow& row : rows) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  print_table_row(out, header, widths);
  for (const TableRow& row : rows) {
    print_table_row(out, row, widths);
  }

  if (!report.valid) {
    print_invalid_banner(err);
    for (auto p = own_problems; p != report.problems.end(); ++p) {
      write_line(err, p->message);
    }
    return report;
  }

  write_line(out, "===============");
  write_line(out, "  valid result ");
  write_line(out, "===============");
  write_line(out, fmt::format("velto v{} {}", velto_version, result.workload_name));
  write_line(out, brand);
  write_line(out, "final score: " + format_score(report.score));
  return report;
}

ScoreReport print_report(const RunResult& result, std::ostream& out, std::ostream& err) {
  return print_report(result, cpu_brand_string(), out, err);
}

} // namespace velto
