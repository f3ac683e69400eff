#include "platform/cpu_load.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velto {
namespace {

TEST(CpuLoad, ProcStatAggregateLine) {
  struct Case {
    std::string text;
    bool ok;
    std::uint64_t busy;
    std::uint32_t processors;
  };
  const Case cases[] = {
      // Recorded on a two-processor Linux 6.1 machine (guest fields present).
      {"cpu  10132153 290696 3084719 46828483 16683 0 25195 0 0 0\n"
       "cpu0 1393280 32966 572864 4890734 1779 0 12424 0 0 0\n"
       "cpu1 1335808 26748 450012 4936932 1802 0 4713 0 0 0\n"
       "intr 199934213 19 10 0\nctxt 261011839\n",
       true, 10132153u + 290696u + 3084719u + 25195u, 2},
      // An old kernel without steal and guest.
      {"cpu  100 0 50 1000 7 3 2\ncpu0 100 0 50 1000 7 3 2\n", false, 0, 0},
      {"cpu  100 0 50 1000 7 3 2 5\ncpu0 100 0 50 1000 7 3 2 5\n", true, 160, 1},
      {"cpu0 1 2 3 4 5 6 7 8\n", false, 0, 1}, // no aggregate line
      {"cpu  1 2 3 4 5 6 7 8\n", false, 0, 0}, // no processor lines
      {"cpu  1 2 x 4 5 6 7 8\ncpu0 1\n", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    const ProcStatTotals totals = parse_proc_stat(c.text);
    EXPECT_EQ(totals.ok, c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(totals.busy, c.busy) << c.text;
      EXPECT_EQ(totals.processors, c.processors) << c.text;
    }
  }
}

TEST(CpuLoad, OwnTimeFromProcPidStat) {
  struct Case {
    std::string text;
    std::optional<std::uint64_t> ticks;
  };
  const Case cases[] = {
      {"4242 (velto) R 1 4242 4242 34816 4242 4194304 1532 0 0 0 731 12 0 0 20 0 3 0 9000 "
       "1234567 890 18446744073709551615\n",
       743},
      // A name with blanks and a parenthesis of its own, and no terminal (tpgid -1).
      {"77 (a (b) c) S 1 77 77 0 -1 4194560 10 0 0 0 5 6 0 0 20 0 1 0 1 2 3\n", 11},
      {"77 (x) S 1 77 77 0 -1 4194560 10 0 0 0 -5 6 0 0 20\n", std::nullopt},
      {"77 (x) S 1 2 3\n", std::nullopt},
      {"no parenthesis here", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_proc_pid_stat_cpu(c.text), c.ticks) << c.text;
  }
}

TEST(CpuLoad, ShareOfTheOtherPrograms) {
  const CpuTimes start{true, 1000.0, 10.0, 50.0, 2};
  struct Case {
    const char* what;
    CpuTimes before;
    CpuTimes after;
    std::optional<double> share;
  };
  const Case cases[] = {
      // 10 s on 2 processors: velto used 10 s of the 20, others 6.
      {"busy neighbour", start, {true, 1016.0, 20.0, 60.0, 2}, 0.3},
      {"quiet machine", start, {true, 1010.0, 20.0, 60.0, 2}, 0.0},
      {"tick grain below zero", start, {true, 1009.9, 20.0, 60.0, 2}, 0.0},
      {"everything busy", start, {true, 1030.0, 10.0, 60.0, 2}, 1.0},
      {"unknown before", CpuTimes{}, {true, 1016.0, 20.0, 60.0, 2}, std::nullopt},
      {"unknown after", start, CpuTimes{}, std::nullopt},
      {"no time passed", start, start, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<double> got = other_cpu_share(c.before, c.after);
    ASSERT_EQ(got.has_value(), c.share.has_value()) << c.what;
    if (got) {
      EXPECT_NEAR(*got, *c.share, 1e-12) << c.what;
    }
  }
}

} // namespace
} // namespace velto
