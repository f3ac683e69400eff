#include "platform/text_lines.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {
namespace {

TEST(TextLines, TheFirstLineThatBeginsWithThePrefixGivesItsRest) {
  struct Case {
    std::string_view text;
    std::optional<std::string_view> rest;
  };
  const Case cases[] = {
      {"A=1\nKEY=2\nKEY=3\n", "2"}, // the first one wins
      {"A=1\nKEY=last", "last"},    // a last line without its line feed
      {"KEY=\n", ""},               // present and empty
      {"A KEY=1\n", std::nullopt},  // only at the start of a line
      {"", std::nullopt},
      {"\n\nKEY=x\n\n", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(line_after(c.text, "KEY="), c.rest) << c.text;
  }
  std::vector<std::string> lines;
  for_each_line("a\n\nb", [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "", "b"}));
}

} // namespace
} // namespace velto
