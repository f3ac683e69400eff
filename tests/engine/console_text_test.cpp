#include "engine/console_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace velto {
namespace {

TEST(ConsoleText, Banners) {
  std::ostringstream s;
  print_warning_banner(s);
  print_invalid_banner(s);
  print_valid_banner(s);
  EXPECT_EQ(s.str(), "===========\n  warning  \n===========\n"
                     "==================\n  invalid result \n==================\n"
                     "===============\n  valid result \n===============\n");
}

// Each column as wide as its widest cell, header or not; an empty cell keeps
// its column; a shorter row leaves its last columns out.
TEST(ConsoleText, TableColumnsTakeTheirWidestCell) {
  EXPECT_EQ(table_lines({{"thread", "x", ""}, {"0", "bbbb", "c"}, {"12"}}),
            (std::vector<std::string>{"thread     x   ", "     0  bbbb  c", "    12"}));
}

} // namespace
} // namespace velto
