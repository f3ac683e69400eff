// The per-thread table, the validity verdict and the score of one run.
#pragma once

#include "bench/run_records.hpp"

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace velto {

/// The version the valid-result line names.
inline constexpr std::string_view velto_version = "1.2.0";

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

/// Decides validity, prints the table and the verdict, and sums the per-thread
/// fast-timer rates into the score. `brand` names the processor on the score lines.
/// An interrupted run gets the invalid banner and nothing else.
ScoreReport print_report(const RunResult& result, std::string_view brand, std::ostream& out,
                         std::ostream& err);
/// As above with this processor's brand string.
ScoreReport print_report(const RunResult& result, std::ostream& out, std::ostream& err);

} // namespace velto
