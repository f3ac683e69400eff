// The result table, the banners and the score line.
#include "benchmark/report.hpp"

#include "benchmark/verdict.hpp"
#include "engine/console_text.hpp"
#include "engine/version.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velto {

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

  std::vector<TableRow> rows = {{"thread", "grid updates", "time", "MGups", "iterations"}};
  rows.reserve(report.threads.size() + 1);
  for (const ThreadScore& t : report.threads) {
    const ThreadResult& r = t.result;
    rows.push_back({fmt::format("{}", r.thread_index), fmt::format("{}", r.updates),
                    fmt::format("{:.2f}s", t.seconds), fmt::format("{:.2f}", t.rate),
                    fmt::format("{}", r.iterations)});
  }

  for (const std::string& line : table_lines(rows)) {
    write_line(out, line);
  }

  if (!report.verdict.valid()) {
    print_invalid_verdict(err, report.verdict, result.problems.size());
    return report;
  }

  print_valid_banner(out);
  write_line(out, fmt::format("velto v{} {}", velto_version,
                              name_of_choice(workload_table, result.workload)));
  write_line(out, brand);
  write_line(out, "final score: " + format_score(report.verdict.score()));
  return report;
}

} // namespace velto
