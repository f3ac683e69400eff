#include "benchmark/coordinator.hpp"

#include "engine/version.hpp"
#include "platform/cpu.hpp"
#include "platform/format.hpp"
#include "platform/interrupt.hpp"
#include "solver/field.hpp"
#include "support/scripted_machine.hpp"
#include "support/scripted_workload.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace velto {
namespace {

using scripted::Script;
using scripted::Stage;
using testing::ScriptedMachine;

constexpr const char* invalid_banner =
    "==================\n  invalid result \n==================\n";

struct RunOutput {
  ScoreReport report;
  std::string out;
  std::string err;
};

// A topology that never pins anything: its processor numbers lie beyond any
// affinity mask, so the test process keeps running where it likes.
Topology unpinnable_topology() {
  Topology topology;
  topology.perf_level_count = 1;
  topology.nodes.resize(1);
  topology.nodes[0].llcs.resize(1);
  for (std::uint32_t c = 0; c < 2; ++c) {
    Core core;
    core.id = c;
    core.logicals.push_back({0, c, 100 + c, 0});
    topology.nodes[0].llcs[0].cores.push_back(core);
  }
  return topology;
}

RunConfig config_of(std::uint32_t threads, std::uint32_t duration = 1) {
  RunConfig config;
  config.thread_count = threads;
  config.duration = duration;
  config.grid_size = 64;
  return config;
}

RunOutput run_with(const RunConfig& config, const ScriptedMachine& machine,
                   const WorkloadFactory& workloads, TopologyCache& cache) {
  std::ostringstream out;
  std::ostringstream err;
  const ScoreReport report = run_benchmark(config, cache, machine, workloads, out, err);
  return {report, out.str(), err.str()};
}

RunOutput run_with(const RunConfig& config, const ScriptedMachine& machine,
                   const WorkloadFactory& workloads) {
  TopologyCache cache = unpinnable_topology();
  return run_with(config, machine, workloads, cache);
}

// A run of the scripted workload on a scripted machine whose clocks follow
// real time, so that a failure stops the others before they could finish.
RunOutput run_scripted(const RunConfig& config, Script& script) {
  ScriptedMachine machine;
  machine.real_time = true;
  return run_with(config, machine, scripted::scripted_factory(script));
}

// The pieces between separators; a trailing separator ends the last piece.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      end = text.size();
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Coordinator, DurationIsClampedToOneThroughAThousandSeconds) {
  const std::uint32_t cases[][2] = {{0, 1},       {1, 1},       {30, 30},          {1000, 1000},
                                    {1001, 1000}, {5000, 1000}, {UINT32_MAX, 1000}};
  for (const auto& c : cases) {
    EXPECT_EQ(clamp_duration(c[0]), c[1]) << c[0];
  }
}

// A duration of 0 runs one second; every message of a one-thread run in order.
TEST(Coordinator, OneThreadRunPrintsEveryStageAndEndsValid) {
  Script script;
  const ScriptedMachine machine;
  TopologyCache cache; // "os" with a given count must never detect the topology
  const RunOutput r = run_with(config_of(1, 0), machine, scripted::scripted_factory(script), cache);
  EXPECT_FALSE(cache.has_value());
  EXPECT_TRUE(r.report.verdict.valid()) << r.err;
  // 200 steps of 1000 updates in the fast timer's 1.000 s.
  EXPECT_EQ(r.report.verdict.score(), 0.2);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(script.made.load(), 1);
  EXPECT_EQ(script.alive.load(), 0);
  EXPECT_EQ(script.contract_breaches.load(), 0);

  const std::string brand = cpu_brand_string(machine.cpuid());
  const std::string expected_start = brand + "\n" +
                                     isa_feature_list(detect_isa_features(machine.cpuid())) + "\n" +
                                     "running with 1 thread (os)\n"
                                     "64 x 64 x 64 grid\n" +
                                     format_bytes(memory_per_thread(64)) + " per thread\n" +
                                     format_bytes(memory_per_thread(64)) + " total\n";
  ASSERT_EQ(r.out.substr(0, expected_start.size()), expected_start);
  const std::vector<std::string> lines = split(r.out.substr(expected_start.size()), '\n');
  const std::string escaped_brand =
      std::regex_replace(brand, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  const std::vector<std::string> shapes = {
      "Fast Timer Frequency: 10\\.00 MHz \\(TSC\\)",
      "Coarse Timer Frequency: 64 Hz",
      "allocating fields\\.\\.\\.\\. ",
      "initalizing fields\\.\\.\\.",
      "initialization took 0ms",
      "starting bench\\.\\.",
      "", // the progress line, below
      "validating result\\.\\.",
      "thread  grid updates +time +MGups +iterations", // columns widen with the cells
      "     0        200000  1\\.00s   0\\.20         200",
      "===============",
      "  valid result ",
      "===============",
      "velto v" + std::regex_replace(std::string(velto_version), std::regex("\\."), "\\.") +
          " standing_wave",
      escaped_brand,
      "final score: 0\\.2 MGups",
  };
  ASSERT_EQ(lines.size(), shapes.size()) << r.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i != 6) {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex(shapes[i]))) << lines[i];
    }
  }
  // Redrawn in place: the first redraw shows "0/", the last the fast timer's whole seconds.
  const std::vector<std::string> redraws = split(lines[6], '\r');
  ASSERT_GE(redraws.size(), 3u);
  EXPECT_EQ(redraws[0], "");
  EXPECT_EQ(redraws[1], "benchmarking... 0/1s                0 MGups  0 iterations");
  const std::regex redraw("benchmarking\\.\\.\\. 0/1s +[0-9.e+-]+ MGups  [0-9]+ iterations");
  ASSERT_EQ(redraws.size(), 202u); // before each of the 200 steps, and the last
  for (std::size_t i = 2; i + 1 < redraws.size(); ++i) {
    EXPECT_TRUE(std::regex_match(redraws[i], redraw)) << redraws[i];
  }
  EXPECT_EQ(redraws.back(), "benchmarking... 1/1s              0.2 MGups  200 iterations");
}

TEST(Coordinator, RealWorkloadsOfTwoThreadsEndValid) {
  for (const char* workload : {"standing_wave", "soft_gaussian"}) {
    RunConfig config = config_of(2);
    config.workload = *choice_named(workload_table, workload);
    const ScriptedMachine machine;
    const RunOutput r = run_with(config, machine, make_workload);
    EXPECT_TRUE(r.report.verdict.valid()) << workload << "\n" << r.err;
    EXPECT_GT(r.report.verdict.score(), 0.0) << workload;
    EXPECT_EQ(r.err, "") << workload;
    EXPECT_TRUE(contains(r.out, "running with 2 threads (os)\n")) << workload;
    EXPECT_TRUE(contains(r.out, "velto v" + std::string(velto_version) + " " + workload + "\n"))
        << workload;
  }
}

TEST(Coordinator, WorkloadFailingAtAnyStageEndsEveryWorkerAndTheRunInvalid) {
  struct Case {
    Stage stage;
    std::uint32_t thread;
    std::string message;
  };
  const Case cases[] = {
      {Stage::create, 0, "could not initalize workload standing_wave in thread 0\n"},
      {Stage::create, 2, "could not initalize workload standing_wave in thread 2\n"},
      {Stage::allocate, 0, "field allocation failed in thread 0\nboom allocate\n"},
      {Stage::allocate, 1, "field allocation failed in thread 1\nboom allocate\n"},
      {Stage::initialize, 2, "failed to initalize field in thread 2\nboom initialize\n"},
      {Stage::initialize, 0, "failed to initalize field in thread 0\nboom initialize\n"},
      {Stage::before_step, 1, "boom before_step\n"},
      {Stage::step, 0, "boom step\n"},
      {Stage::after_step, 2, "boom after_step\n"},
      {Stage::validate, 2, "boom validate\n"},
  };
  for (const Case& c : cases) {
    const std::string name =
        std::string(scripted::stage_name(c.stage)) + " in thread " + std::to_string(c.thread);
    Script script;
    script.fail_stage = c.stage;
    script.fail_thread = c.thread;
    script.fail_at_step = 3;
    const RunOutput r = run_scripted(config_of(3), script);
    EXPECT_FALSE(r.report.verdict.valid()) << name;
    EXPECT_EQ(r.err, c.message + invalid_banner) << name;
    EXPECT_EQ(script.alive.load(), 0) << name;
    EXPECT_EQ(script.contract_breaches.load(), 0) << name;
    const bool initialised = c.stage > Stage::initialize;
    // Another thread's failed initialisation may stop the reporter before it begins its own.
    if (c.stage <= Stage::allocate || c.thread == 0 || c.stage > Stage::initialize) {
      EXPECT_EQ(contains(r.out, "initalizing fields..."), c.stage > Stage::allocate) << name;
    }
    EXPECT_EQ(contains(r.out, "initialization took "), initialised) << name;
    EXPECT_EQ(contains(r.out, "starting bench.."), initialised) << name;
    EXPECT_EQ(contains(r.out, "validating result.."), c.stage == Stage::validate) << name;
    EXPECT_FALSE(contains(r.out, "final score")) << name;
  }
}

// A worker that fails just after a phase may raise the stop request before a
// slower one has checked it after that phase; the slower one goes on to the
// next phase and must still be released there.
TEST(Coordinator, FailureRightAfterAPhaseNeverLeavesAWorkerWaiting) {
  for (int repeat = 0; repeat < 40; ++repeat) {
    for (const Stage stage : {Stage::create, Stage::initialize}) {
      Script script;
      script.fail_stage = stage;
      script.fail_thread = 1 + static_cast<std::uint32_t>(repeat % 2);
      const RunOutput r = run_scripted(config_of(3), script);
      EXPECT_FALSE(r.report.verdict.valid());
      EXPECT_EQ(script.alive.load(), 0);
    }
  }
}

TEST(Coordinator, TimerChecksAbortOrWarnBeforeAnyWorkerRuns) {
  const TimerInfo good_fast{10000000, 0, TimerSource::tsc};
  const TimerInfo good_coarse{1000, 64, TimerSource::unknown};
  const TimerInfo overflowing{INT64_MAX, 0, TimerSource::hpet};
  const std::string use_bypass =
      "Use --bypass-timer-check to run regardless if you are sure that this is a detection "
      "error in terms of your windows version, processor, or timer\n";
  const std::string not_all = std::string(invalid_banner) + "not all threads produced a result\n";
  struct Case {
    const char* name;
    bool compliant;
    bool bypass;
    TimerInfo fast;
    TimerInfo coarse;
    std::string err;
    bool workers_ran;
  };
  const Case cases[] = {
      {"not compliant", false, false, good_fast, good_coarse,
       "Fast Timer is not HWBOT compliant (fast timer source: TSC); aborting\n" + use_bypass +
           not_all,
       false},
      {"not compliant, bypassed", false, true, good_fast, good_coarse,
       "===========\n  warning  \n===========\n"
       "Fast timer is not compliant with HWBOT rules (fast timer source: TSC)\n"
       "Check that this is a detection error in terms of your windows version, processor, or "
       "timer before submitting\n"
       "field allocation failed in thread 0\nboom allocate\n" +
           std::string(invalid_banner),
       true},
      {"fast overflows", true, false, overflowing, good_coarse,
       "fast timer will overflow during the run; aborting\n" + not_all, false},
      {"coarse overflows", true, false, good_fast, overflowing,
       "coarse timer will overflow during the run; aborting\n" + not_all, false},
  };
  for (const Case& c : cases) {
    Script script;
    script.fail_stage = Stage::allocate; // keeps a run that does start short
    ScriptedMachine machine;
    machine.fast = c.fast;
    machine.coarse = c.coarse;
    machine.compliant = c.compliant;
    RunConfig config = config_of(2);
    config.bypass_timer_check = c.bypass;
    const RunOutput r = run_with(config, machine, scripted::scripted_factory(script));
    EXPECT_FALSE(r.report.verdict.valid()) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(script.made.load() > 0, c.workers_ran) << c.name;
    EXPECT_EQ(script.alive.load(), 0) << c.name;
  }
  // The header shows the shown frequencies: the report frequency when there is one.
  Script script;
  ScriptedMachine machine;
  machine.fast = {10000000, 2994000000, TimerSource::itsc};
  machine.compliant = false;
  const RunOutput r = run_with(config_of(1), machine, scripted::scripted_factory(script));
  EXPECT_TRUE(contains(r.out, "\nFast Timer Frequency: 2.99 GHz (iTSC)\n"
                              "Coarse Timer Frequency: 64 Hz\n"));
}

// The timed loop on clocks that disagree: the coarse timer alone ends the
// loop, one reading after the fast timer's last, and the verdict allows 31
// whole milliseconds between them.
TEST(Coordinator, ClocksThatDisagreeByMoreThanTheToleranceMakeTheRunInvalid) {
  struct Case {
    const char* name;
    double fast_rate;
    std::int64_t stall_us; ///< the coarse timer stands still this long, 0.5 s in
    std::string disagreement;
  };
  const Case cases[] = {
      {"steady", 1.0, 0, ""},
      {"fast 26 ms behind", 0.974, 0, ""},
      {"fast 27 ms behind", 0.973, 0, "fast timer = 973ms    coarse timer = 1005ms\n"},
      {"coarse stalls 36 ms", 1.0, 36000, ""},
      {"coarse stalls 37 ms", 1.0, 37000, "fast timer = 1040ms    coarse timer = 1008ms\n"},
  };
  for (const Case& c : cases) {
    Script script;
    ScriptedMachine machine;
    machine.fast_rate = c.fast_rate;
    machine.coarse_stall_from_us = 500000;
    machine.coarse_stall_us = c.stall_us;
    const RunOutput r = run_with(config_of(1), machine, scripted::scripted_factory(script));
    EXPECT_EQ(r.report.verdict.valid(), c.disagreement.empty()) << c.name;
    ASSERT_EQ(r.report.threads.size(), 1u) << c.name;
    if (!c.disagreement.empty()) {
      EXPECT_EQ(r.err, std::string(invalid_banner) +
                           "disagreement between timers for total work is larger than "
                           "tolerance\n" +
                           c.disagreement)
          << c.name;
    }
  }
}

TEST(Coordinator, HeaderNamesThreadsAndPlacementManager) {
  for (const Threading threading : {Threading::numa, Threading::phte}) {
    Script script;
    script.fail_stage = Stage::create;
    script.fail_thread = 1;
    RunConfig config = config_of(2);
    config.threading = threading;
    const ScriptedMachine machine;
    const RunOutput r = run_with(config, machine, scripted::scripted_factory(script));
    const std::string name(name_of_choice(threading_table, threading));
    EXPECT_TRUE(contains(r.out, "\nrunning with 2 threads (" + name + ")\n")) << r.out;
    EXPECT_TRUE(contains(r.out, format_bytes(memory_per_thread(64) * 2) + " total\n"));
  }
}

TEST(Coordinator, ThreadThatCannotStartEndsTheRunWithoutAHang) {
  for (std::uint32_t failing : {1u, 2u, 3u}) {
    Script script;
    ScriptedMachine machine;
    std::uint32_t calls = 0;
    machine.starter = [&](std::function<void()> body) {
      if (++calls == failing) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      return std::thread(std::move(body));
    };
    const RunOutput r = run_with(config_of(4), machine, scripted::scripted_factory(script));
    EXPECT_FALSE(r.report.verdict.valid()) << failing;
    EXPECT_TRUE(contains(r.err, "could not start thread " + std::to_string(failing) + ": "))
        << r.err;
    EXPECT_TRUE(r.err.ends_with(std::string("; aborting\n") + invalid_banner)) << r.err;
    // Only the threads started before the failure made a workload; worker 0 never ran.
    EXPECT_EQ(script.made.load(), static_cast<int>(failing) - 1) << failing;
    EXPECT_EQ(script.alive.load(), 0) << failing;
    EXPECT_FALSE(contains(r.out, "allocating fields")) << failing;
  }
}

// Ctrl-C as the OS handler delivers it, at each stage of a twenty-second run.
TEST(Coordinator, InterruptionStopsEveryWorkerAndEndsTheRunWithoutAVerdict) {
  struct Case {
    Stage stage;
    std::uint32_t thread;
    bool in_loop;
  };
  const Case cases[] = {
      {Stage::allocate, 1, false}, {Stage::initialize, 0, false}, {Stage::initialize, 2, false},
      {Stage::step, 0, true},      {Stage::step, 2, true},        {Stage::validate, 0, false},
  };
  for (const Case& c : cases) {
    const std::string name =
        std::string(scripted::stage_name(c.stage)) + " in thread " + std::to_string(c.thread);
    Script script;
    script.interrupt_stage = c.stage;
    script.interrupt_thread = c.thread;
    script.interrupt_at_step = 3;
    RunConfig config = config_of(3, c.stage == Stage::validate ? 1 : 20);
    const auto start = std::chrono::steady_clock::now();
    const RunOutput r = run_scripted(config, script);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << name;

    EXPECT_FALSE(r.report.verdict.valid()) << name;
    EXPECT_TRUE(r.report.verdict.interrupted()) << name;
    ASSERT_FALSE(r.report.verdict.reasons().empty()) << name;
    EXPECT_EQ(r.report.verdict.reasons().back(),
              (RunProblem{RunIssue::interrupted, "run interrupted; aborting"}))
        << name;
    EXPECT_EQ(script.interruptions.load(), 1) << name;
    EXPECT_EQ(script.interruptions_that_stopped.load(), 1) << name;
    EXPECT_EQ(script.alive.load(), 0) << name;
    EXPECT_EQ(script.contract_breaches.load(), 0) << name;
    EXPECT_EQ(r.err, std::string("run interrupted; aborting\n") + invalid_banner) << name;
    EXPECT_FALSE(contains(r.out, "thread  grid updates")) << name;
    EXPECT_EQ(contains(r.out, "starting bench.."), c.in_loop || c.stage == Stage::validate) << name;
    if (c.stage == Stage::initialize && c.thread != 0) {
      // The reporter may see the stop request before it begins its own initialisation.
      EXPECT_TRUE(r.out.ends_with("allocating fields.... \n") ||
                  r.out.ends_with("allocating fields.... \ninitalizing fields...\n"))
          << name << ": " << r.out;
    } else if (c.in_loop) {
      // The progress line the reporter left open gets its line end, and nothing follows.
      const std::string last = r.out.substr(r.out.rfind('\r') + 1);
      EXPECT_TRUE(std::regex_match(
          last,
          std::regex("benchmarking\\.\\.\\. [0-9]+/20s +[0-9.e+]+ MGups  [0-9]+ iterations\n")))
          << name << ": " << last;
    } else {
      EXPECT_TRUE(r.out.ends_with(c.stage == Stage::validate   ? "validating result..\n"
                                  : c.stage == Stage::allocate ? "allocating fields.... \n"
                                                               : "initalizing fields...\n"))
          << name << ": " << r.out;
    }
  }
  // After the run an interruption is handled as by default again.
  EXPECT_EQ(process_interrupt_latch().deliver(), InterruptAction::end_process);
}

TEST(Coordinator, AbsurdThreadCountIsRefusedWithoutThrowing) {
  Script script;
  ScriptedMachine machine;
  machine.available = std::uint64_t{24} << 30;
  const RunOutput r = run_with(config_of(UINT32_MAX), machine, scripted::scripted_factory(script));
  EXPECT_FALSE(r.report.verdict.valid());
  EXPECT_EQ(r.err, "not enough memory to prepare a run of 4294967295 threads; aborting\n" +
                       std::string(invalid_banner) + "not all threads produced a result\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(script.made.load(), 0);
}

} // namespace
} // namespace velto
