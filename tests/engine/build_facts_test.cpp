#include "engine/build_facts.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velto {
namespace {

TEST(BuildFacts, VersionLineNamesTheBuildAndTheCompilersRelease) {
  struct Case {
    BuildFacts build;
    std::string line;
  };
  const Case cases[] = {
      {{"3.4.5", "linux", "x86_64", "gcc", "12.2.0"}, "velto 3.4.5 (linux x86_64, GCC 12.2)"},
      // mingw-w64's GCC knows only its major number
      {{"3.4.5", "windows", "x86", "gcc", "12-posix"}, "velto 3.4.5 (windows x86, GCC 12)"},
      {{"3.4.5", "windows", "x86_64", "gcc", "13.1.1 20230614"},
       "velto 3.4.5 (windows x86_64, GCC 13.1)"},
      {{"3.4.5", "linux", "x86_64", "clang", "Debian Clang 14.0.6"},
       "velto 3.4.5 (linux x86_64, Clang 14.0)"},
      {{"3.4.5", "linux", "x86_64", "clang", "Clang 17.0.0git (https://x/y 1a2b)"},
       "velto 3.4.5 (linux x86_64, Clang 17.0)"},
      {{"3.4.5", "linux", "x86_64", "gcc", "10."}, "velto 3.4.5 (linux x86_64, GCC 10)"},
      {{"3.4.5", "linux", "x86_64", "gcc", ""}, "velto 3.4.5 (linux x86_64, GCC)"},
      {{"3.4.5", "linux", "x86_64", "icx", "2024.1"}, "velto 3.4.5 (linux x86_64, icx 2024.1)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(version_line(c.build), c.line) << c.build.compiler_version;
  }
}

} // namespace
} // namespace velto
