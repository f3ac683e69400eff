#include "benchmark/benchmark_run.hpp"

#include "benchmark/coordinator.hpp"
#include "support/scripted_machine.hpp"
#include "support/scripted_workload.hpp"

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

RunParameters scripted_parameters(std::uint32_t threads) {
  RunParameters parameters;
  parameters.thread_plan.thread_count = threads;
  parameters.duration = 1;
  parameters.grid_size = 64;
  parameters.threading = Threading::os;
  return parameters;
}

// One second of two workers; the second fails to validate after the first may
// already have delivered.
TEST(Worker, ResultsRecordTheTimedLoopAndAFailedValidationStopsTheRun) {
  Script script;
  script.fail_stage = Stage::validate;
  script.fail_thread = 1;
  const RunParameters parameters = scripted_parameters(2);
  const testing::ScriptedMachine machine;
  std::ostringstream out;
  std::ostringstream err;
  const RunResult result =
      run_threads(parameters, machine, scripted::scripted_factory(script), out, err);

  EXPECT_EQ(result.end, RunEnd::stopped);
  EXPECT_EQ(result.expected_threads, 2u);
  // The coarse timer ends the loop at its 200th step of 5 ms and is read once
  // more after the fast timer's last reading.
  EXPECT_EQ(result.results, (std::vector<ThreadResult>{{0, 1005, 1000000, 200, 200000}}));
  EXPECT_EQ(script.validated_steps.load(), 400u); // both threads validated their 200 steps
  EXPECT_EQ(script.contract_breaches.load(), 0);
  EXPECT_EQ(script.alive.load(), 0);
  EXPECT_EQ(err.str(), "boom validate\n");
}

} // namespace
} // namespace velto
