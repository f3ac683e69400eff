// The console's shapes every kind of run prints: three-line banners and
// tables of right-aligned columns.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// One table row, a cell per column.
using TableRow = std::vector<std::string>;

/// Each row's cells right-aligned to the widest cell of their column, two
/// blanks between columns; a row shorter than the first leaves its last
/// columns out.
std::vector<std::string> table_lines(const std::vector<TableRow>& rows);

/// `text` between two rules of '=', as wide as the text unless `rule_width` is given.
void print_banner(std::ostream& stream, std::string_view text, std::size_t rule_width = 0);

/// "==================" / "  invalid result " / "==================".
void print_invalid_banner(std::ostream& err);

/// "===========" / "  warning  " / "===========".
void print_warning_banner(std::ostream& err);

/// "===============" / "  valid result " / "===============".
void print_valid_banner(std::ostream& out);

} // namespace velto
