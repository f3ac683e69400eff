#include "app/driver.hpp"

#include "bench/version.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace velto {
namespace {

// One invocation with captured streams and recorded actions.
struct Invocation {
  int status = -1;
  std::string out;
  std::string err;
  int fish_played = 0;
  std::vector<RunConfig> runs;
};

Invocation invoke(std::vector<std::string> args, bool run_valid = true, std::string input = "") {
  Invocation result;
  DriverServices services;
  services.show_fish = [&] { ++result.fish_played; };
  services.run_benchmark = [&](RunConfig config, TopologyCache&, std::ostream& out, std::ostream&) {
    result.runs.push_back(config);
    out << "(run)\n";
    ScoreReport report;
    report.score = run_valid ? 123.0 : 0.0;
    report.valid = run_valid;
    return report;
  };
  args.insert(args.begin(), "/opt/velto/velto");
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  result.status = velto_main(args, in, out, err, services);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST(Driver, ValidationMessagesAndStatuses) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"--size", "100"},
       1,
       "Invalid size '100', must be one of: 64, 128, 192, 256, 320, 384, 448, 512, 640, 768, "
       "1024, 2048, 4096, 8192\n"},
      {{"--workload", "Standing_Wave"},
       1,
       "Invalid workload name 'Standing_Wave', must be one of: standing_wave, soft_gaussian\n"},
      {{"--workload", "standing_wave "},
       1,
       "Invalid workload name 'standing_wave ', must be one of: standing_wave, soft_gaussian\n"},
      {{"--size", "100", "--help"},
       1,
       "Invalid size '100', must be one of: 64, 128, 192, 256, "
       "320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192\n"},
      {{"--threading", "foo"}, 1, "--threading: foo not in {os,numa,phte}\n"},
  };
  for (const auto& c : cases) {
    const Invocation r = invoke(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(r.out, "") << c.args[0];
    EXPECT_TRUE(r.runs.empty());
  }
  for (const char* bad : {"abc", "12x"}) {
    const Invocation r = invoke({"-n", bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
  }
}

TEST(Driver, FishComesBeforeEveryCheck) {
  const Invocation r = invoke({"--velto", "--size", "100", "--workload", "x", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.fish_played, 1);
  EXPECT_EQ(r.out + r.err, "");
}

TEST(Driver, VersionComesAfterTheChecksAndBeforeTheOtherPrintouts) {
  const std::string line = version_line(live_build_facts()) + "\n";
  EXPECT_EQ(line.rfind("velto " + std::string(velto_version) + " (", 0), 0u) << line;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    bool error;
  };
  const Case cases[] = {
      {{"--version"}, 0, line, false},
      {{"--help", "--version"}, 0, line, false},
      {{"--topo-debug", "--version", "--timer-debug", "-n", "3", "-s", "8192"}, 0, line, false},
      {{"--version", "--runs", "5", "--export-json", "/nonexistent/r.json"}, 0, line, false},
      {{"--version", "--size", "100"}, 1, "", true},
      {{"--version", "--workload", "x"}, 1, "", true},
      {{"--version", "--runs", "0"}, 1, "", true},
  };
  for (const Case& c : cases) {
    const Invocation r = invoke(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err.empty(), !c.error) << r.err;
    EXPECT_TRUE(r.runs.empty());
    EXPECT_EQ(r.fish_played, 0);
  }
  EXPECT_EQ(invoke({"--version", "--velto"}).fish_played, 1);
}

TEST(Driver, HelpWinsOverTheOtherPrintoutsAndPrintsTheMemoryTable) {
  const Invocation r = invoke({"--topo-debug", "--timer-debug", "--help", "-s", "8192"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("USAGE:\n  velto ", 0), 0u);
  const std::size_t table = r.out.find("field size      memory used per thread\n");
  ASSERT_NE(table, std::string::npos) << r.out;
  const std::string rows = r.out.substr(table);
  EXPECT_NE(rows.find("\n  64                 17.55 MiB\n"
                      "  128               134.09 MiB\n"
                      "  192               445.64 MiB\n"),
            std::string::npos)
      << rows;
  EXPECT_NE(rows.find("\n  8192               32.02 TiB\n"), std::string::npos) << rows;
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 15);
  EXPECT_TRUE(r.runs.empty());
}

TEST(Driver, RunGetsTheConfigurationThenPromptsForEnter) {
  const Invocation r =
      invoke({"-n", "2", "-d", "5", "-s", "64", "--threading", "numa", "--workload",
              "soft_gaussian", "--large-pages", "--bypass-timer-check"});
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.runs.size(), 1u);
  const RunConfig& c = r.runs[0];
  EXPECT_EQ(c.thread_count, 2u);
  EXPECT_EQ(c.duration, 5u);
  EXPECT_EQ(c.grid_size, 64u);
  EXPECT_EQ(c.threading, Threading::numa);
  EXPECT_EQ(c.workload, "soft_gaussian");
  EXPECT_TRUE(c.large_pages);
  EXPECT_TRUE(c.bypass_timer_check);
  EXPECT_EQ(r.out, "(run)\npress enter to exit\n");
}

TEST(Driver, InvalidRunStillPromptsAndExitsWithOne) {
  const Invocation r = invoke({}, /*run_valid=*/false, "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "(run)\npress enter to exit\n");
  ASSERT_EQ(r.runs.size(), 1u);
  EXPECT_EQ(r.runs[0].grid_size, 192u);
  EXPECT_EQ(r.runs[0].duration, 30u);
}

TEST(Driver, AnInterruptedRunNeitherPromptsNorWaits) {
  DriverServices services;
  services.run_benchmark = [](RunConfig, TopologyCache&, std::ostream& out, std::ostream& err) {
    out << "(run)\n";
    err << "run interrupted; aborting\n";
    ScoreReport report;
    report.problems.push_back({RunIssue::interrupted, "run interrupted; aborting"});
    return report;
  };
  std::istringstream in("\n");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(velto_main({"velto", "-s", "64"}, in, out, err, services), 1);
  EXPECT_EQ(out.str(), "(run)\n");
  EXPECT_EQ(err.str(), "run interrupted; aborting\n");
  EXPECT_EQ(in.tellg(), 0); // nothing read
}

TEST(Driver, NothingThrownBelowEscapesTheEntry) {
  struct Case {
    const char* what;
    std::function<void()> fail;
    const char* err;
  };
  const Case cases[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }, "fatal error: out of memory; aborting\n"},
      {"system_error",
       [] {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                 "thread");
       },
       "fatal error: thread: "},
      {"length_error", [] { throw std::length_error("vector"); },
       "fatal error: vector; aborting\n"},
      {"not an exception", [] { throw 42; }, "fatal error: unknown error; aborting\n"},
  };
  for (const auto& c : cases) {
    for (const char* action : {"run", "fish"}) {
      DriverServices services;
      services.show_fish = c.fail;
      services.run_benchmark = [&](RunConfig, TopologyCache&, std::ostream&, std::ostream&) {
        c.fail();
        return ScoreReport{};
      };
      std::istringstream in;
      std::ostringstream out;
      std::ostringstream err;
      const std::vector<std::string> args = std::string(action) == "fish"
                                                ? std::vector<std::string>{"velto", "--velto"}
                                                : std::vector<std::string>{"velto", "-s", "64"};
      EXPECT_EQ(velto_main(args, in, out, err, services), 1) << c.what << " " << action;
      EXPECT_TRUE(err.str().starts_with(c.err)) << c.what << " " << action << ": " << err.str();
      EXPECT_TRUE(err.str().ends_with("; aborting\n")) << c.what << " " << action;
    }
  }
}

// A stream buffer that refuses every write at once (a closed descriptor, a
// pipe whose reader is gone), or takes the bytes and fails when they are
// flushed (stdio's buffer in front of a full disk).
class RefusingBuffer : public std::streambuf {
public:
  explicit RefusingBuffer(bool fails_at_flush_only) : at_flush_only_(fails_at_flush_only) {}
  std::string taken;

protected:
  int_type overflow(int_type c) override {
    if (at_flush_only_ && !traits_type::eq_int_type(c, traits_type::eof())) {
      taken += traits_type::to_char_type(c);
      return c;
    }
    return traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (at_flush_only_) {
      taken.append(s, static_cast<std::size_t>(n));
      return n;
    }
    return 0;
  }
  int sync() override { return taken.empty() ? 0 : -1; } // only what waits can fail

private:
  bool at_flush_only_;
};

struct FailedWrites {
  int status = -1;
  std::string out; // what a working standard output shows
  std::string err; // what a working error stream shows
};

// One invocation with standard output, the error stream or both refusing writes;
// the run writes a line on each stream and is valid.
FailedWrites invoke_with_failing(std::vector<std::string> args, bool out_fails, bool err_fails,
                                 bool at_flush_only = false) {
  DriverServices services;
  services.run_benchmark = [](RunConfig, TopologyCache&, std::ostream& out, std::ostream& err) {
    out << "(run)\n";
    err << "(warning)\n";
    ScoreReport report;
    report.score = 123.0;
    report.valid = true;
    return report;
  };
  args.insert(args.begin(), "velto");
  std::istringstream in;
  RefusingBuffer refusing_out(at_flush_only);
  RefusingBuffer refusing_err(at_flush_only);
  std::ostringstream working_out;
  std::ostringstream working_err;
  std::ostream failing_out(&refusing_out);
  std::ostream failing_err(&refusing_err);
  FailedWrites r;
  r.status = velto_main(args, in, out_fails ? failing_out : working_out,
                        err_fails ? failing_err : working_err, services);
  r.out = working_out.str();
  r.err = working_err.str();
  return r;
}

TEST(Driver, AWriteThatFailsMakesTheStatusOne) {
  for (const bool at_flush_only : {false, true}) {
    // Standard output fails: the error stream says so.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"--timer-debug"},
          std::vector<std::string>{"-s", "64"}}) {
      const FailedWrites r = invoke_with_failing(args, true, false, at_flush_only);
      EXPECT_EQ(r.status, 1) << args[0] << " " << at_flush_only;
      EXPECT_TRUE(r.err.ends_with("could not write to standard output\n"))
          << args[0] << " " << at_flush_only << ": " << r.err;
    }
    // The error stream fails: nothing is left to say it with.
    const FailedWrites run = invoke_with_failing({"-s", "64"}, false, true, at_flush_only);
    EXPECT_EQ(run.status, 1) << at_flush_only;
    EXPECT_EQ(run.out, "(run)\npress enter to exit\n") << at_flush_only;
    // Both fail.
    EXPECT_EQ(invoke_with_failing({"--help"}, true, true, at_flush_only).status, 1);
  }
  // A stream that is never written cannot fail: a refusal on the error stream
  // keeps its own message and status.
  const FailedWrites refused = invoke_with_failing({"--size", "100"}, true, false);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.find("could not write"), std::string::npos) << refused.err;
  EXPECT_TRUE(refused.err.starts_with("Invalid size '100'")) << refused.err;
  // Nothing on the error stream: its failure goes unnoticed.
  EXPECT_EQ(invoke_with_failing({"--help"}, false, true).status, 0);
  // And with both streams working, the status is the action's.
  const FailedWrites working = invoke_with_failing({"-s", "64"}, false, false);
  EXPECT_EQ(working.status, 0);
  EXPECT_EQ(working.out, "(run)\npress enter to exit\n");
  EXPECT_EQ(working.err, "(warning)\n");
}

TEST(Driver, GridSizeLimitsDependOnTheSizeType) {
  for (std::uint64_t size : {64, 128, 192, 256, 320, 384, 448}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX), "") << size;
  }
  for (std::uint64_t size : {512, 640, 768, 1024}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX),
              "grid size " + std::to_string(size) + " would overflow memory calculation");
  }
  for (std::uint64_t size : {2048, 4096, 8192}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX),
              "grid size " + std::to_string(size) + " is too large for the address space");
  }
  for (std::uint64_t size : {64, 448, 512, 1024, 2048, 8192}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT64_MAX), "") << size;
  }
}

TEST(Driver, LargeSizesThatThisBuildCannotAddressAreRefusedBeforeARun) {
  const Invocation r = invoke({"-s", "2048"});
  if (SIZE_MAX == UINT32_MAX) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "grid size 2048 is too large for the address space\n");
    EXPECT_TRUE(r.runs.empty());
    EXPECT_EQ(r.out, ""); // no prompt
  } else {
    EXPECT_EQ(r.runs.size(), 1u);
  }
}

TEST(TimerReport, PrintsEveryLineInOrder) {
  TimerReport report;
  report.fast = {10000000, 2994000000, TimerSource::itsc};
  report.coarse = {1000, 64, TimerSource::unknown};
  report.tsc = {true, 2994000000, 0};
  report.cpu = {"  Some CPU @ 3.00GHz ", CpuVendor::intel, 6, 0x9E};
  report.compliant = true;
  std::ostringstream out;
  print_timer_report(report, out);
  EXPECT_EQ(out.str(), "Fast timer: iTSC\n"
                       "underlying frequency: 2.99 GHz\n"
                       "report frequency: 10.00 MHz\n"
                       "Coarse timer: \n"
                       "underlying frequency: 64 Hz\n"
                       "report frequency: 1.00 KHz\n"
                       "\n"
                       "tsc info:\n"
                       "tsc: 2.99 GHz\n"
                       "crystal: 0 Hz\n"
                       "invariant: true\n"
                       "\n"
                       "  Some CPU @ 3.00GHz \n"
                       "Intel detected\n"
                       "detected family: 6 model: 9e\n"
                       "\n"
                       "Fast timer is hwbot compliant\n");
}

TEST(TimerReport, NotCompliantTellsHowToBypass) {
  TimerReport report;
  report.cpu.vendor = CpuVendor::amd;
  report.cpu.family = 0xF;
  report.cpu.model = 0x21;
  std::ostringstream out;
  print_timer_report(report, out);
  const std::string text = out.str();
  EXPECT_NE(text.find("\nAMD detected\ndetected family: f model: 21\n\n"
                      "Fast timer is not compliant with HWBOT rules\n"
                      "Use --bypass-timer-check to run regardless if you are sure that this is a "
                      "detection error in terms of your windows version, processor, or timer\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.rfind("Fast timer: unknown\n", 0), 0u);
  report.cpu.vendor = CpuVendor::unknown;
  std::ostringstream unknown;
  print_timer_report(report, unknown);
  EXPECT_NE(unknown.str().find("\nunknown vendor\n"), std::string::npos);
}

} // namespace
} // namespace velto
