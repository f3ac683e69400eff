#include "bench/worker.hpp"

#include "bench/coordinator.hpp"
#include "scripted_workload.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace velto {
namespace {

using scripted::Script;
using scripted::Stage;

TEST(Worker, ProgressLineSumsRatesAndShowsTheLargestCount) {
  ProgressBoard board(3);
  std::ostringstream out;
  print_progress(out, 0, 30, board);
  EXPECT_EQ(out.str(), "\rbenchmarking... 0/30s                0 MGups  0 iterations");

  board[0].rate = 1.5;
  board[0].iterations = 7;
  board[1].rate = 2.25;
  board[1].iterations = 12;
  board[2].iterations = 3;
  out.str("");
  print_progress(out, 4, 30, board);
  EXPECT_EQ(out.str(), "\rbenchmarking... 4/30s             3.75 MGups  12 iterations");

  board[2].rate = 123456.0;
  out.str("");
  print_progress(out, -1, 1000, board);
  EXPECT_EQ(out.str(), "\rbenchmarking... -1/1000s        1.235e+05 MGups  12 iterations");
}

TEST(Worker, ProgressSlotsHaveACacheBlockEachAndStartAtZero) {
  ProgressBoard board(5);
  ASSERT_EQ(board.size(), 5u);
  for (std::uint32_t i = 0; i < board.size(); ++i) {
    const auto address = reinterpret_cast<std::uintptr_t>(&board[i]);
    EXPECT_EQ(address % 128, 0u) << i;
    EXPECT_EQ(address - reinterpret_cast<std::uintptr_t>(&board[0]), 128u * i);
    EXPECT_EQ(board[i].iterations.load(), 0u);
    EXPECT_EQ(board[i].rate.load(), 0.0);
  }
}

RunParameters scripted_parameters(Script& script, std::uint32_t threads) {
  RunParameters parameters;
  parameters.thread_plan.thread_count = threads;
  parameters.workload_name = "scripted";
  parameters.duration = 1;
  parameters.grid_size = 64;
  parameters.threading = Threading::os;
  parameters.workload_factory = scripted::scripted_factory(script);
  return parameters;
}

RunHooks compliant_hooks() {
  RunHooks hooks;
  hooks.is_timer_compliant = [](const TimerInfo&) { return true; };
  return hooks;
}

// One second of two workers; the second fails to validate after the first may
// already have delivered.
TEST(Worker, ResultsRecordTheTimedLoopAndAFailedValidationStopsTheRun) {
  Script script;
  script.fail_stage = Stage::validate;
  script.fail_thread = 1;
  const RunParameters parameters = scripted_parameters(script, 2);
  std::ostringstream out;
  std::ostringstream err;
  const RunResult result = run_threads(parameters, compliant_hooks(), out, err);

  EXPECT_TRUE(result.stop_raised);
  EXPECT_EQ(result.expected_threads, 2u);
  EXPECT_EQ(result.workload_name, "scripted");
  ASSERT_EQ(result.results.size(), 1u);
  const ThreadResult& r = result.results[0];
  EXPECT_EQ(r.thread_index, 0u);
  EXPECT_GE(r.coarse_ms, 1000);
  EXPECT_LT(r.coarse_ms, 1500);
  EXPECT_GE(r.fast_us, 900000);
  EXPECT_LT(r.fast_us, 1500000);
  EXPECT_GT(r.iterations, 10u);
  EXPECT_EQ(r.updates, 1000 * r.iterations);
  EXPECT_GE(script.validated_steps.load(), r.iterations);
  EXPECT_EQ(script.contract_breaches.load(), 0);
  EXPECT_EQ(script.alive.load(), 0);
  EXPECT_EQ(err.str(), "boom validate\n");
}

} // namespace
} // namespace velto
