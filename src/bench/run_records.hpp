// The records that carry one run from the coordinator through the workers to
// the report, and the objects the workers of one run share.
#pragma once

#include "bench/placement.hpp"
#include "bench/start_barrier.hpp"
#include "platform/timers.hpp"
#include "solver/workload.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// Makes one thread's workload, or nothing for an unknown name.
using WorkloadFactory =
    std::function<std::unique_ptr<Workload>(std::string_view name, std::uint32_t thread_index)>;

/// The settings of one run, read-only while it lasts.
struct RunParameters {
  bool large_pages = false;
  ThreadPlan thread_plan;
  std::string workload_name;
  std::uint32_t duration = 1; ///< seconds, already clamped to 1..1000
  std::uint64_t grid_size = 0;
  bool bypass_timer_check = false;
  std::string threading;
  /// Where each worker gets its workload; tests substitute one that fails.
  WorkloadFactory workload_factory = make_workload;
};

/// What one worker delivers once its fields validated.
struct ThreadResult {
  std::uint32_t thread_index = 0;
  std::int64_t coarse_ms = 0;   ///< coarse timer over the timed loop
  std::int64_t fast_us = 0;     ///< fast timer over the timed loop
  std::uint64_t iterations = 0; ///< completed solver steps
  std::uint64_t updates = 0;    ///< updates per step × iterations, wrapping
  friend bool operator==(const ThreadResult&, const ThreadResult&) = default;
};

/// What the workers of one run produced.
struct RunResult {
  bool stop_raised = false;
  std::uint32_t expected_threads = 0;
  std::vector<ThreadResult> results; ///< in the order the workers finished
  std::string workload_name;
  bool interrupted = false; ///< Ctrl-C or a termination request came during the run
  /// The reporter drew the live progress line and left it without a line end.
  bool progress_line_open = false;
};

/// The verdict handed back to the driver; score is only meaningful when valid.
struct ScoreReport {
  double score = 0.0; ///< MGups
  bool valid = false;
  bool interrupted = false; ///< the run was interrupted: no prompt follows
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "progress slots are read without a lock and must never tear");
static_assert(std::atomic<double>::is_always_lock_free,
              "progress slots are read without a lock and must never tear");

/// One worker's live progress. Each slot has a 128-byte block of its own so
/// that writers never share a cache line (nor an adjacent-line prefetch pair).
struct alignas(128) ProgressSlot {
  std::atomic<std::uint64_t> iterations{0}; ///< iterations completed so far
  std::atomic<double> rate{0.0};            ///< this thread's current MGups
};
static_assert(sizeof(ProgressSlot) == 128);

/// One ProgressSlot per worker, zeroed at creation.
class ProgressBoard {
public:
  /// Throws std::bad_alloc when the slots cannot be had.
  explicit ProgressBoard(std::uint32_t slot_count)
      : slots_(std::make_unique<ProgressSlot[]>(slot_count)), count_(slot_count) {}

  std::uint32_t size() const { return count_; }
  ProgressSlot& operator[](std::uint32_t index) { return slots_[index]; }
  const ProgressSlot& operator[](std::uint32_t index) const { return slots_[index]; }

private:
  std::unique_ptr<ProgressSlot[]> slots_;
  std::uint32_t count_;
};

/// The run's stop request: raised by a failing worker, polled by all, never
/// lowered. Held through a shared_ptr so it lives until its last holder ends.
class StopState {
public:
  void raise() { raised_.store(true, std::memory_order_release); }
  bool raised() const { return raised_.load(std::memory_order_acquire); }
  /// The flag itself, for an interruption handler: it may only store to an atomic.
  std::atomic<bool>& flag() { return raised_; }

private:
  std::atomic<bool> raised_{false};
};

/// Everything one worker reaches; copied by value into its thread.
struct WorkerArgs {
  std::uint32_t thread_index = 0;
  const RunParameters* parameters = nullptr;
  RunResult* result = nullptr;
  std::mutex* console_lock = nullptr;
  std::mutex* results_lock = nullptr;
  StartBarrier* start_barrier = nullptr;
  std::shared_ptr<StopState> stop_request;
  ProgressBoard* progress_board = nullptr;
  TimerInfo fast_timer;
  TimerInfo coarse_timer;
  bool is_reporter = false;
  std::ostream* out = nullptr; ///< standard output of the run
  std::ostream* err = nullptr; ///< standard error of the run
};

} // namespace velto
