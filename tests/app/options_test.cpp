#include "app/options.hpp"

#include "engine/placement.hpp"
#include "platform/name_table.hpp"
#include "solver/workload.hpp"
#include "stress/stress_plan.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velto {
namespace {

CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "C:\\bench\\velto.exe");
  return parse_command_line(args);
}

TEST(Options, DefaultsWithoutArguments) {
  const CommandLine line = parse({});
  ASSERT_EQ(line.error, "");
  EXPECT_EQ(line.config.thread_count, 0u);
  EXPECT_EQ(line.config.duration, 30u);
  EXPECT_EQ(line.config.grid_size, 192u);
  EXPECT_EQ(line.config.threading, Threading::os);
  EXPECT_EQ(line.config.workload, WorkloadKind::standing_wave);
  EXPECT_FALSE(line.unknown_workload.has_value());
  EXPECT_FALSE(line.config.large_pages);
  EXPECT_FALSE(line.config.bypass_timer_check);
  EXPECT_FALSE(line.fish || line.help || line.topology || line.timers);
}

TEST(Options, NumbersAreDecimalDigitsWithinTheFieldsWidth) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::uint64_t value; // of the option named first
  };
  const Case cases[] = {
      {{"-n", "4"}, true, 4},
      {{"--numthreads", "010"}, true, 10}, // ten, not eight
      {{"-n", "4294967295"}, true, 4294967295u},
      {{"-n", "4294967296"}, false, 0},
      {{"-n", "12x"}, false, 0},
      {{"-n", "-1"}, false, 0},
      {{"-n", "+1"}, false, 0},
      {{"-n", " 1"}, false, 0},
      {{"-n", "0x10"}, false, 0},
      {{"-n", "0b1"}, false, 0},
      {{"-n", ""}, false, 0},
      {{"-n"}, false, 0},
      {{"-d", "0"}, true, 0},
      {{"--duration", "1e3"}, false, 0},
      {{"-s", "18446744073709551615"}, true, 18446744073709551615u},
      {{"-s", "18446744073709551616"}, false, 0},
      {{"--size", "abc"}, false, 0},
  };
  for (const auto& c : cases) {
    const CommandLine line = parse(c.args);
    const std::string what = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_EQ(line.error.empty(), c.ok) << what << ": " << line.error;
    if (!c.ok || !line.error.empty()) {
      continue;
    }
    const std::string& name = c.args[0];
    const std::uint64_t got = (name == "-n" || name == "--numthreads") ? line.config.thread_count
                              : (name == "-d" || name == "--duration") ? line.config.duration
                                                                       : line.config.grid_size;
    EXPECT_EQ(got, c.value) << what;
  }
}

TEST(Options, ValueSpellingsAreEquivalent) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--size=512"}, {"-s", "512"}, {"--size", "512"}, {"-s512"}}) {
    const CommandLine line = parse(args);
    EXPECT_EQ(line.error, "") << args[0];
    EXPECT_EQ(line.config.grid_size, 512u) << args[0];
  }
}

TEST(Options, ThreadingTakesOnlyItsThreeChoices) {
  const std::pair<const char*, Threading> choices[] = {
      {"os", Threading::os}, {"numa", Threading::numa}, {"phte", Threading::phte}};
  for (const auto& [name, threading] : choices) {
    const CommandLine line = parse({"--threading", name});
    EXPECT_EQ(line.error, "") << name;
    EXPECT_EQ(line.config.threading, threading) << name;
  }
  for (const char* wrong : {"NUMA", "phte ", ""}) {
    EXPECT_NE(parse({"--threading", wrong}).error, "") << wrong;
  }
  const CommandLine bad = parse({"--threading", "foo"});
  EXPECT_NE(bad.error.find("os"), std::string::npos) << bad.error;
  EXPECT_NE(bad.error.find("numa"), std::string::npos) << bad.error;
  EXPECT_NE(bad.error.find("phte"), std::string::npos) << bad.error;
}

// The parser takes any text; a name outside the table is kept for the
// driver's message, and the last of repeated names counts.
TEST(Options, WorkloadNamesBecomeTheirKindAndOthersAreKept) {
  struct Case {
    std::vector<std::string> args;
    WorkloadKind kind;
    std::optional<std::string> unknown;
  };
  const Case cases[] = {
      {{"--workload", "soft_gaussian"}, WorkloadKind::soft_gaussian, std::nullopt},
      {{"--workload", "Standing_Wave"}, WorkloadKind::standing_wave, "Standing_Wave"},
      {{"--workload", ""}, WorkloadKind::standing_wave, ""},
      {{"--workload", "x", "--workload", "soft_gaussian"},
       WorkloadKind::soft_gaussian,
       std::nullopt},
  };
  for (const Case& c : cases) {
    const CommandLine line = parse(c.args);
    EXPECT_EQ(line.error, "") << c.args[1];
    EXPECT_EQ(line.config.workload, c.kind) << c.args[1];
    EXPECT_EQ(line.unknown_workload, c.unknown) << c.args[1];
  }
}

TEST(Options, FlagsAndTheirNames) {
  for (const char* help : {"-?", "-h", "--help"}) {
    EXPECT_TRUE(parse({help}).help) << help;
  }
  const CommandLine line =
      parse({"--large-pages", "--bypass-timer-check", "--topo-debug", "--timer-debug", "--velto"});
  ASSERT_EQ(line.error, "");
  EXPECT_TRUE(line.config.large_pages);
  EXPECT_TRUE(line.config.bypass_timer_check);
  EXPECT_TRUE(line.topology);
  EXPECT_TRUE(line.timers);
  EXPECT_TRUE(line.fish);
}

TEST(Options, UnknownOptionsAndStrayArgumentsFail) {
  EXPECT_NE(parse({"--sizes", "64"}).error, "");
  EXPECT_NE(parse({"64"}).error, "");
  EXPECT_NE(parse({"-x"}).error, "");
}

TEST(Options, ExecutableNameIsTheLastPathComponent) {
  EXPECT_EQ(executable_name("C:\\bench\\velto.exe"), "velto.exe");
  EXPECT_EQ(executable_name("/usr/local/bin/velto"), "velto");
  EXPECT_EQ(executable_name("velto"), "velto");
  EXPECT_EQ(executable_name("a/b\\c"), "c");
  EXPECT_EQ(executable_name(""), "");
}

TEST(Options, UsageListsEveryOptionInTableOrder) {
  const std::string usage = parse({}).usage;
  ASSERT_EQ(usage.rfind("USAGE:\n  velto.exe ", 0), 0u) << usage;
  const char* in_order[] = {
      "OPTIONS, ARGUMENTS:",
      "-?, -h, --help",
      "Display usage information.",
      "-n, --numthreads <numthreads>",
      "Number of threads to use",
      "-d, --duration <duration>",
      "Bench duration (s) between 1-1000s",
      "-s, --size <size>",
      "Grid size, one of [64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, "
      "8192]",
      "--workload <workload>",
      "Workload to use (results with different workloads aren't comparable), one of "
      "[standing_wave, soft_gaussian]",
      "--threading <threading>",
      "Threading manager to use",
      "--large-pages",
      "Use large pages allocator",
      "--bypass-timer-check",
      "Run the bench even if the timer is not HWBOT compliant",
      "--topo-debug",
      "Print detected topology for debug",
      "--timer-debug",
      "Printed detected timers",
      "--velto",
  };
  std::size_t at = 0;
  for (const char* text : in_order) {
    const std::size_t found = usage.find(text, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << usage;
    at = found + 1;
  }
  EXPECT_EQ(parse_command_line({}).usage.rfind("USAGE:\n  ", 0), 0u);
}

} // namespace
} // namespace velto

namespace velto {
namespace {

TEST(Options, RecordRunsAndPromptOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string error; // empty when the line parses
    std::uint32_t runs;
    std::optional<std::string> record;
    bool no_prompt;
  };
  const Case cases[] = {
      {{}, "", 1, std::nullopt, false},
      {{"--runs", "3", "--export-json", "out/r.json", "--no-prompt"}, "", 3, "out/r.json", true},
      {{"--runs=100"}, "", 100, std::nullopt, false},
      {{"--runs", "010"}, "", 10, std::nullopt, false},
      {{"--export-json", ""}, "", 1, "", false}, // refused later, by the path check
      {{"--runs", "0"},
       "Value 0 for option --runs is out of range: expected a whole number from 1 to 100",
       1,
       std::nullopt,
       false},
      {{"--runs", "101"},
       "Value 101 for option --runs is out of range: expected a whole number from 1 to 100",
       1,
       std::nullopt,
       false},
      {{"--runs", "0x3"},
       "Could not convert '0x3' for option --runs: expected a whole number from 0 to 4294967295",
       1,
       std::nullopt,
       false},
      {{"--export-json"}, "--export-json: 1 required path missing", 1, std::nullopt, false},
  };
  for (const Case& c : cases) {
    const CommandLine line = parse(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(line.error, c.error) << what;
    if (c.error.empty()) {
      EXPECT_EQ(line.runs, c.runs) << what;
      EXPECT_EQ(line.export_json, c.record) << what;
      EXPECT_EQ(line.no_prompt, c.no_prompt) << what;
    }
  }
}

TEST(Options, UsageListsTheRecordOptions) {
  const std::string usage = parse({}).usage;
  for (const char* text : {" [--runs <runs>]", " [--export-json <path>]", " [--no-prompt]",
                           "  --export-json <path>\n"}) {
    EXPECT_NE(usage.find(text), std::string::npos) << text;
  }
}

} // namespace
} // namespace velto

namespace velto {
namespace {

// The help text under `heading` ("--stress-load <load>") in the usage; empty
// when the usage has no such option.
std::string help_of(const std::string& usage, const std::string& heading) {
  const std::string marker = "\n  " + heading + "\n";
  const std::size_t at = usage.find(marker);
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t start = usage.find_first_not_of(' ', at + marker.size());
  return usage.substr(start, usage.find('\n', start) - start);
}

// Every name of `table` appears in `text`, in table order.
template <typename Choice, std::size_t N>
::testing::AssertionResult names_in_order(const std::string& text,
                                          const NameTable<Choice, N>& table) {
  std::size_t at = 0;
  for (const auto& row : table) {
    const std::size_t found = text.find(row.name, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure()
             << "\"" << row.name << "\" missing or out of order in: " << text;
    }
    at = found + row.name.size();
  }
  return ::testing::AssertionSuccess();
}

// The parser's list of the names it admits: "{os,numa,phte}".
template <typename Choice, std::size_t N> std::string admitted(const NameTable<Choice, N>& table) {
  return "{" + join_choice_names(table, ",") + "}";
}

TEST(Options, ChoiceHelpsListTheirTablesNames) {
  const std::string usage = parse({}).usage;
  const std::string stress_load = help_of(usage, "--stress-load <load>");
  EXPECT_EQ(stress_load.rfind("Stability test load: ", 0), 0u) << stress_load;
  EXPECT_TRUE(names_in_order(stress_load, stress_load_table));
  EXPECT_TRUE(names_in_order(help_of(usage, "--workload <workload>"), workload_table));
}

TEST(Options, ChoiceOptionsTakeTheirTablesNamesAndNoOthers) {
  for (const auto& [threading, name] : threading_table) {
    const CommandLine line = parse({"--threading", std::string(name)});
    EXPECT_EQ(line.error, "") << name;
    EXPECT_EQ(line.config.threading, threading) << name;
  }
  for (const auto& [load, name] : stress_load_table) {
    const CommandLine line = parse({"--stress", "1", "--stress-load", std::string(name)});
    EXPECT_EQ(line.error, "") << name;
    EXPECT_EQ(line.stress_load, load) << name;
  }
  EXPECT_EQ(parse({"--threading", "foo"}).error,
            "--threading: foo not in " + admitted(threading_table));
  EXPECT_EQ(parse({"--stress", "1", "--stress-load", "fast"}).error,
            "--stress-load: fast not in " + admitted(stress_load_table));
}

// An exclusion holds both ways; the message names first the option the usage
// lists first.
TEST(Options, OptionsThatNeedOrExcludeOthers) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"--stress", "1", "--runs", "2"}, "--runs excludes --stress"},
      {{"--stress", "1", "-d", "2"}, "--duration excludes --stress"},
      {{"--stress-load", "cycle"}, "--stress-load requires --stress"},
      {{"--stress-dwell", "5"}, "--stress-dwell requires --stress"},
      {{"--stop-on-error"}, "--stop-on-error requires --stress"},
      {{"--roofline", "--stress", "1"}, "--stress excludes --roofline"},
      {{"--scaling", "--stress", "1"}, "--stress excludes --scaling"},
      {{"--scaling", "-n", "2"}, "--numthreads excludes --scaling"},
      {{"--stress", "1", "--stress-load", "cycle", "--stress-dwell", "5", "--stop-on-error"}, ""},
      {{"--roofline", "--scaling", "--runs", "2", "-d", "1"}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(c.args).error, c.error) << c.args[0];
  }
}

TEST(Options, OptionsSetTheirTargets) {
  const CommandLine line = parse({"-n", "3", "-d", "7", "-s", "256", "--workload", "soft_gaussian",
                                  "--threading", "phte", "--runs", "4", "--export-json", "r.json",
                                  "--no-prompt", "--roofline", "--version", "--large-pages"});
  ASSERT_EQ(line.error, "");
  EXPECT_EQ(line.config.thread_count, 3u);
  EXPECT_EQ(line.config.duration, 7u);
  EXPECT_EQ(line.config.grid_size, 256u);
  EXPECT_EQ(line.config.workload, WorkloadKind::soft_gaussian);
  EXPECT_EQ(line.config.threading, Threading::phte);
  EXPECT_EQ(line.runs, 4u);
  EXPECT_EQ(line.export_json, "r.json");
  EXPECT_TRUE(line.no_prompt && line.roofline && line.version && line.config.large_pages);
  EXPECT_TRUE(line.size_given && line.workload_given && line.threading_given);

  const CommandLine test =
      parse({"--stress", "0", "--stress-load", "pulse", "--stress-dwell", "60", "--stop-on-error"});
  ASSERT_EQ(test.error, "");
  EXPECT_EQ(test.stress_minutes, 0u);
  EXPECT_EQ(test.stress_load, StressLoad::pulse);
  EXPECT_EQ(test.stress_dwell, 60u);
  EXPECT_TRUE(test.stop_on_error);
  EXPECT_FALSE(test.size_given || test.workload_given || test.threading_given);
  EXPECT_TRUE(parse({"--scaling"}).scaling);
}

} // namespace
} // namespace velto
