// The console's report of a run's verdict: the per-thread table, the banners
// and the score lines.
#pragma once

#include "bench/run_records.hpp"
#include "bench/version.hpp"

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace velto {

using TableRow = std::array<std::string, 5>;
using TableWidths = std::array<std::size_t, 5>;

/// Cells right-aligned to their widths, two blanks between them, then a newline.
void print_table_row(std::ostream& out, const TableRow& cells, const TableWidths& widths);

/// "==================" / "  invalid result " / "==================".
void print_invalid_banner(std::ostream& err);

/// "===========" / "  warning  " / "===========".
void print_warning_banner(std::ostream& err);

/// "{:.2f} MGups" above 100, else "{:.4g} MGups".
std::string format_score(double score);

/// Prints the verdict of judge_run: the table (when every thread delivered),
/// then the valid banner with the score lines on `out`, or the invalid banner
/// with the problems the verdict found itself on `err` (the run's own were
/// printed when they happened). `brand` names the processor on the score lines.
ScoreReport print_report(const RunResult& result, std::string_view brand, std::ostream& out,
                         std::ostream& err);

} // namespace velto
