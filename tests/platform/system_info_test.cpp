#include "platform/system_info.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velto {
namespace {

TEST(SystemInfo, PrettyNameOfAnOsReleaseText) {
  struct Case {
    std::string text;
    std::string name;
  };
  const Case cases[] = {
      {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"NAME=Arch\nPRETTY_NAME='Arch Linux'\n", "Arch Linux"},
      {"ID=alpine\nPRETTY_NAME=Alpine", "Alpine"},
      {"NAME=\"X\"\nMY_PRETTY_NAME=\"no\"\n", ""},
      {"PRETTY_NAME=\"unbalanced\n", "\"unbalanced"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_os_release_name(c.text), c.name) << c.text;
  }
}

TEST(SystemInfo, BuildFactsNameTheTarget) {
  EXPECT_TRUE(build_os() == "linux" || build_os() == "windows");
  EXPECT_EQ(build_arch(), sizeof(void*) == 8 ? "x86_64" : "x86");
  EXPECT_FALSE(compiler_version().empty());
}

} // namespace
} // namespace velto
