// Faults injected into real runs: a worker failing at each stage of its life
// with one, two and four threads, and a corrupted field in one thread. Every
// run goes through a watchdog, so a run in which somebody waits forever fails
// its case instead of stalling the suite.
#include "benchmark/coordinator.hpp"

#include "support/field_corruption.hpp"
#include "support/scripted_machine.hpp"
#include "support/scripted_workload.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

namespace velto {
namespace {

using scripted::Script;
using scripted::Stage;

struct Finished {
  RunResult result;
  std::string out;
  std::string err;
};

// Runs the workers on a thread of its own and waits at most `limit`. The
// parameters and whatever `keep` holds stay with that thread, so a run that
// never ends is abandoned safely and the case fails.
std::optional<Finished> run_guarded(RunParameters parameters, WorkloadFactory workloads,
                                    std::shared_ptr<void> keep,
                                    std::chrono::seconds limit = std::chrono::seconds(60)) {
  auto promise = std::make_shared<std::promise<Finished>>();
  std::future<Finished> finished = promise->get_future();
  std::thread runner([parameters = std::move(parameters), workloads = std::move(workloads),
                      keep = std::move(keep), promise] {
    // Real time on the clocks: the others must not finish before a failure stops them.
    testing::ScriptedMachine machine;
    machine.real_time = true;
    std::ostringstream out;
    std::ostringstream err;
    RunResult result = run_threads(parameters, machine, workloads, out, err);
    promise->set_value({std::move(result), out.str(), err.str()});
  });
  if (finished.wait_for(limit) != std::future_status::ready) {
    runner.detach();
    return std::nullopt;
  }
  runner.join();
  return finished.get();
}

RunParameters parameters_of(std::uint32_t threads) {
  RunParameters parameters;
  parameters.thread_plan.thread_count = threads;
  parameters.duration = 1;
  parameters.grid_size = 64;
  parameters.threading = Threading::os;
  return parameters;
}

std::string failure_text(Stage stage, std::uint32_t thread) {
  const std::string index = std::to_string(thread);
  switch (stage) {
  case Stage::create:
    return "could not initalize workload standing_wave in thread " + index + "\n";
  case Stage::allocate:
    return "field allocation failed in thread " + index + "\nboom allocate\n";
  case Stage::initialize:
    return "failed to initalize field in thread " + index + "\nboom initialize\n";
  default:
    return std::string("boom ") + scripted::stage_name(stage) + "\n";
  }
}

TEST(FaultInjection, WorkerFailingAtAnyStageEndsTheRunWithEveryThreadJoined) {
  const Stage stages[] = {Stage::create, Stage::allocate,   Stage::initialize, Stage::before_step,
                          Stage::step,   Stage::after_step, Stage::validate};
  for (std::uint32_t threads : {1u, 2u, 4u}) {
    for (std::uint32_t failing : {0u, threads - 1}) {
      if (threads == 1 && failing != 0) {
        continue;
      }
      for (Stage stage : stages) {
        // A loop stage fails on the first step or a few steps in.
        const bool in_loop = stage >= Stage::before_step && stage <= Stage::after_step;
        for (std::uint64_t at_step : {std::uint64_t{0}, std::uint64_t{3}}) {
          if (!in_loop && at_step != 0) {
            continue;
          }
          const std::string name = std::string(scripted::stage_name(stage)) + " at step " +
                                   std::to_string(at_step) + " in thread " +
                                   std::to_string(failing) + " of " + std::to_string(threads);
          auto script = std::make_shared<Script>();
          script->fail_stage = stage;
          script->fail_thread = failing;
          script->fail_at_step = at_step;
          const auto run =
              run_guarded(parameters_of(threads), scripted::scripted_factory(*script), script);
          ASSERT_TRUE(run.has_value()) << name << ": the run did not end within a minute";
          EXPECT_EQ(run->result.end, RunEnd::stopped) << name;
          EXPECT_EQ(run->err, failure_text(stage, failing)) << name;
          for (const ThreadResult& r : run->result.results) {
            EXPECT_NE(r.thread_index, failing) << name;
          }
          // Only a failed validation leaves the others time to deliver.
          if (stage != Stage::validate) {
            EXPECT_TRUE(run->result.results.empty()) << name;
          }
          EXPECT_EQ(script->alive.load(), 0) << name << ": a workload outlived its worker";
          EXPECT_EQ(script->contract_breaches.load(), 0) << name;
        }
      }
    }
  }
}

WorkloadFactory corrupting_factory(const faults::Corruption& corruption, std::uint32_t thread) {
  return [corruption, thread](WorkloadKind kind, std::uint32_t index) -> std::unique_ptr<Workload> {
    if (index == thread) {
      return std::make_unique<faults::CorruptedStandingWave>(corruption, index);
    }
    return make_workload(kind, index);
  };
}

TEST(FaultInjection, CorruptedSampleInOneThreadStopsTheRun) {
  for (std::uint32_t thread : {0u, 1u}) {
    faults::Corruption corruption;
    corruption.step = 2;
    corruption.field = faults::Field::e;
    corruption.component = faults::Component::z;
    corruption.x = 17;
    corruption.y = 33;
    corruption.z = 17;
    corruption.magnitude = 0.5;
    const auto run = run_guarded(parameters_of(2), corrupting_factory(corruption, thread), nullptr);
    ASSERT_TRUE(run.has_value()) << thread << ": the run did not end within a minute";
    EXPECT_EQ(run->result.end, RunEnd::stopped) << thread;
    EXPECT_TRUE(run->result.results.empty()) << thread;
    EXPECT_EQ(run->err.rfind("\nnode verification failure in thread " + std::to_string(thread) +
                                 "\ninit_val = ",
                             0),
              0u)
        << run->err;
  }
}

} // namespace
} // namespace velto
