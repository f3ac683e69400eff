#include "app/driver.hpp"

#include "app/console.hpp"
#include "app/printouts.hpp"
#include "engine/version.hpp"
#include "record/result_record.hpp"
#include "support/scripted_machine.hpp"
#include "support/scripted_workload.hpp"

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

using scripted::Script;
using scripted::Stage;
using testing::ScriptedMachine;

// One invocation on a scripted machine, each run a scripted workload.
struct Invocation {
  int status = -1;
  std::string out;
  std::string err;
  std::uint64_t fish_slept_ms = 0;
  int workloads_made = 0;
  bool input_read = false;
};

Invocation invoke(std::vector<std::string> args, Script& script, std::string input = "",
                  ScriptedMachine* chosen = nullptr) {
  ScriptedMachine scripted;
  ScriptedMachine& machine = chosen != nullptr ? *chosen : scripted;
  script.step_time = std::chrono::microseconds(0);
  args.insert(args.begin(), "/opt/velto/velto");
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  Invocation result;
  result.status = velto_main(args, in, out, err, machine, scripted::scripted_factory(script));
  result.out = out.str();
  result.err = err.str();
  result.fish_slept_ms = machine.terminal_.slept_ms;
  result.workloads_made = script.made.load();
  result.input_read = in.tellg() != 0;
  return result;
}

Invocation invoke(std::vector<std::string> args, bool run_valid = true, std::string input = "") {
  Script script;
  if (!run_valid) {
    script.fail_stage = Stage::validate;
    script.failing_validate_time = std::chrono::milliseconds(0);
  }
  return invoke(std::move(args), script, std::move(input));
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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
    EXPECT_EQ(r.workloads_made, 0);
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
  EXPECT_EQ(r.fish_slept_ms, 16 * 400u); // four rounds of four frames
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.ends_with(std::string(fish_frames[3]) + "\n"));
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
    EXPECT_EQ(r.workloads_made, 0);
    EXPECT_EQ(r.fish_slept_ms, 0u);
  }
  EXPECT_GT(invoke({"--version", "--velto"}).fish_slept_ms, 0u);
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
  EXPECT_EQ(r.workloads_made, 0);
}

TEST(Driver, RunGetsTheConfigurationThenPromptsForEnter) {
  ScriptedMachine machine;
  machine.compliant = false;
  Script script;
  const Invocation r =
      invoke({"-n", "2", "-d", "5", "-s", "64", "--threading", "numa", "--workload",
              "soft_gaussian", "--large-pages", "--bypass-timer-check"},
             script, "\n", &machine);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.workloads_made, 2);
  EXPECT_TRUE(contains(r.out, "\nrunning with 2 threads (numa)\n64 x 64 x 64 grid\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "allocating fields.... (large pages)\n"));
  EXPECT_TRUE(contains(r.out, "benchmarking... 5/5s "));
  EXPECT_TRUE(contains(r.out, "\nvelto v" + std::string(velto_version) + " soft_gaussian\n"));
  EXPECT_TRUE(r.err.starts_with("===========\n  warning  \n")) << r.err; // bypassed
  EXPECT_TRUE(r.out.ends_with("MGups\npress enter to exit\n"));
  EXPECT_TRUE(r.input_read);
}

TEST(Driver, InvalidRunStillPromptsAndExitsWithOne) {
  const Invocation r = invoke({}, /*run_valid=*/false, "\n");
  EXPECT_EQ(r.status, 1);
  // The defaults: size 192, 30 s, the automatic count (two logical processors).
  EXPECT_TRUE(contains(r.out, "\nrunning with 2 threads (os)\n192 x 192 x 192 grid\n"));
  EXPECT_TRUE(contains(r.out, "benchmarking... 30/30s "));
  EXPECT_TRUE(r.out.ends_with("validating result..\npress enter to exit\n")) << r.out;
  EXPECT_TRUE(r.input_read);
}

TEST(Driver, AnInterruptedRunNeitherPromptsNorWaits) {
  Script script;
  script.interrupt_stage = Stage::step;
  script.interrupt_at_step = 3;
  const Invocation r = invoke({"-s", "64", "-n", "1"}, script, "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with(" iterations\n")) << r.out; // the live line, ended
  EXPECT_EQ(r.err, "run interrupted; aborting\n==================\n  invalid result \n"
                   "==================\n");
  EXPECT_FALSE(r.input_read);
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
      ScriptedMachine machine;
      machine.terminal_.fault = c.fail;
      machine.file_check_fault = c.fail;
      std::istringstream in;
      std::ostringstream out;
      std::ostringstream err;
      const std::vector<std::string> args =
          std::string(action) == "fish"
              ? std::vector<std::string>{"velto", "--velto"}
              : std::vector<std::string>{"velto", "-s", "64", "--export-json", "r.json"};
      EXPECT_EQ(velto_main(args, in, out, err, machine), 1) << c.what << " " << action;
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
  // A timer whose check is bypassed: a valid run that warns on the error stream.
  ScriptedMachine machine;
  machine.compliant = false;
  Script script;
  script.step_time = std::chrono::microseconds(0);
  args.insert(args.begin(), "velto");
  args.insert(args.end(), {"-n", "1", "-d", "1", "--bypass-timer-check"});
  std::istringstream in;
  RefusingBuffer refusing_out(at_flush_only);
  RefusingBuffer refusing_err(at_flush_only);
  std::ostringstream working_out;
  std::ostringstream working_err;
  std::ostream failing_out(&refusing_out);
  std::ostream failing_err(&refusing_err);
  FailedWrites r;
  r.status = velto_main(args, in, out_fails ? failing_out : working_out,
                        err_fails ? failing_err : working_err, machine,
                        scripted::scripted_factory(script));
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
    EXPECT_TRUE(run.out.ends_with("MGups\npress enter to exit\n")) << at_flush_only;
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
  EXPECT_TRUE(working.out.ends_with("MGups\npress enter to exit\n"));
  EXPECT_TRUE(working.err.starts_with("===========\n  warning  \n===========\n"));
}

TEST(Driver, LargeSizesThatThisBuildCannotAddressAreRefusedBeforeARun) {
  const Invocation r = invoke({"-s", "2048"});
  if (SIZE_MAX == UINT32_MAX) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "grid size 2048 is too large for the address space\n");
    EXPECT_EQ(r.workloads_made, 0);
    EXPECT_EQ(r.out, ""); // no prompt
  } else {
    EXPECT_TRUE(contains(r.out, "\n2048 x 2048 x 2048 grid\n"));
  }
}

} // namespace
} // namespace velto
