// Banners and tables of the console.
#include "engine/console_text.hpp"

#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace velto {

std::vector<std::string> table_lines(const std::vector<TableRow>& rows) {
  std::vector<std::size_t> widths;
  for (const TableRow& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::vector<std::string> lines;
  lines.reserve(rows.size());
  for (const TableRow& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += fmt::format("{}{:>{}}", i == 0 ? "" : "  ", row[i], widths[i]);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

void print_banner(std::ostream& stream, std::string_view text, std::size_t rule_width) {
  const std::string rule(rule_width != 0 ? rule_width : text.size(), '=');
  write_line(stream, rule);
  write_line(stream, text);
  write_line(stream, rule);
}

void print_invalid_banner(std::ostream& err) {
  // Its rules are one wider than its text, as they always were.
  print_banner(err, "  invalid result ", 18);
}

void print_warning_banner(std::ostream& err) {
  print_banner(err, "  warning  ");
}

void print_valid_banner(std::ostream& out) {
  print_banner(out, "  valid result ");
}

} // namespace velto
