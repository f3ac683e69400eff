// The result table, the banners and the score line.
#include "bench/report.hpp"

#include "bench/verdict.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velto {

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

namespace {

// The invalid banner, then the reasons past the first `printed`, which were
// printed when they happened.
void print_invalid_verdict(std::ostream& err, const Verdict& verdict, std::size_t printed) {
  print_invalid_banner(err);
  const std::vector<RunProblem>& reasons = verdict.reasons();
  for (std::size_t i = printed; i < reasons.size(); ++i) {
    write_line(err, reasons[i].message);
  }
}

} // namespace

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

ScoreReport print_report(const RunResult& result, std::string_view brand, std::ostream& out,
                         std::ostream& err) {
  ScoreReport report = judge_run(result);
  if (report.threads.empty() && !report.verdict.valid()) {
    print_invalid_verdict(err, report.verdict, result.problems.size());
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

  if (!report.verdict.valid()) {
    print_invalid_verdict(err, report.verdict, result.problems.size());
    return report;
  }

  write_line(out, "===============");
  write_line(out, "  valid result ");
  write_line(out, "===============");
  write_line(out, fmt::format("velto v{} {}", velto_version,
                              name_of_choice(workload_table, result.workload)));
  write_line(out, brand);
  write_line(out, "final score: " + format_score(report.verdict.score()));
  return report;
}

} // namespace velto
