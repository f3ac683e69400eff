// The records that carry one run from the coordinator through the workers to
// the report, and the objects the workers of one run share.
#pragma once

#include "bench/placement.hpp"
#include "bench/start_barrier.hpp"
#include "platform/cpu_load.hpp"
#include "platform/timers.hpp"
#include "solver/workload.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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
  Threading threading = Threading::os;
  /// The processor-time reading around the reporter's loop; tests substitute recorded ones.
  std::function<CpuTimes()> read_cpu_times = [] { return velto::read_cpu_times(); };
  /// Where each worker gets its workload; tests substitute one that fails.
  WorkloadFactory workload_factory = [](std::string_view name, std::uint32_t thread_index) {
    return make_workload(name, thread_index);
  };
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

/// Why a run is not valid.
enum class RunIssue : std::uint8_t {
  could_not_prepare,   ///< the run's bookkeeping or one of its threads could not be had
  timer_not_compliant, ///< the fast timer breaks the HWBOT rules and the check was not bypassed
  timer_overflow,      ///< a timer would overflow during the run
  worker_failed,       ///< a worker stopped with a message
  results_missing,     ///< fewer results than threads
  timers_disagree,     ///< a thread's fast and coarse timer disagree by 32 ms or more
  interrupted,         ///< the user interrupted the run
};

/// The codes of the issues, as result files name them.
inline constexpr NameTable<RunIssue, 7> run_issue_table = {{
    {RunIssue::could_not_prepare, "could_not_prepare"},
    {RunIssue::timer_not_compliant, "timer_not_compliant"},
    {RunIssue::timer_overflow, "timer_overflow"},
    {RunIssue::worker_failed, "worker_failed"},
    {RunIssue::results_missing, "results_missing"},
    {RunIssue::timers_disagree, "timers_disagree"},
    {RunIssue::interrupted, "interrupted"},
}};

/// One reason a run is invalid, with the text the console shows for it.
struct RunProblem {
  RunIssue issue = RunIssue::could_not_prepare;
  std::string message; ///< the lines printed on the error stream, without the last newline
  friend bool operator==(const RunProblem&, const RunProblem&) = default;
};

/// One second of a run, as the reporter saw it.
struct RateSample {
  double t_s = 0.0;             ///< coarse-timer seconds since the loop began
  double rate_mgups = 0.0;      ///< all threads' updates since the last sample, per second
  std::uint64_t iterations = 0; ///< the fastest thread's completed steps
  friend bool operator==(const RateSample&, const RateSample&) = default;
};

/// What a result record keeps of a run beside its verdict.
struct RunFacts {
  std::uint32_t threads = 0;  ///< threads the run used; 0 when it never got that far
  std::uint32_t duration = 0; ///< seconds, after clamping
  /// Allocation and initialisation on the fast timer, ms; -1 when not reached.
  std::int64_t init_ms = -1;
  PlacementPlan plan; ///< processor of worker k; threads beyond its end are unpinned
  /// Once per coarse second of the reporter's loop; room reserved before the run.
  std::vector<RateSample> samples;
  /// Processor time other programs used during the reporter's loop, as a
  /// share of all logical processors × its wall time; nothing when unknown.
  std::optional<double> other_cpu_share;
};

/// What the workers of one run produced.
struct RunResult {
  bool stop_raised = false;
  std::uint32_t expected_threads = 0;
  std::vector<ThreadResult> results; ///< in the order the workers finished
  std::string workload_name;
  /// What went wrong before or while the workers ran, in the order it happened.
  std::vector<RunProblem> problems;
  /// Written by the coordinator before the workers start and by the reporter
  /// (init_ms) while they run; read after they are joined.
  RunFacts facts;
};

/// One thread's line of the result table.
struct ThreadScore {
  ThreadResult result;
  double seconds = 0.0; ///< fast-timer seconds of the timed loop
  double rate = 0.0;    ///< MGups: updates / 10^6 / seconds
};

/// The verdict of one run: the console report and the driver read the same
/// value. Score and threads are filled when every thread delivered.
struct ScoreReport {
  double score = 0.0; ///< MGups, the sum of the thread rates
  bool valid = false;
  std::vector<ThreadScore> threads; ///< in the order the workers finished
  std::vector<RunProblem> problems; ///< empty when valid
  RunFacts facts;                   ///< as the run left them
  /// True when the user interrupted the run.
  bool interrupted() const;
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
  /// The flag itself, for a signal handler that may only store to a lock-free atomic.
  std::atomic<bool>& flag() { return raised_; }

private:
  std::atomic<bool> raised_{false};
};

/// What the workers of one run share. The coordinator owns it until every
/// worker is joined; each worker receives it with its own index.
struct RunContext {
  const RunParameters& parameters;
  RunResult& result;                       ///< results and problems, under results_lock
  std::mutex& console_lock;                ///< held around every console write of a worker
  std::mutex& results_lock;                ///< held around appends to result
  StartBarrier& start_barrier;             ///< P participants, three phases
  std::shared_ptr<StopState> stop_request; ///< raised by a failing worker or an interruption
  ProgressBoard& progress_board;           ///< one slot per worker
  TimerInfo fast_timer;
  TimerInfo coarse_timer;
  std::ostream& out; ///< standard output of the run
  std::ostream& err; ///< standard error of the run
  /// Set by the reporter once it has drawn the progress line, which then
  /// needs its line end if the run is cut short.
  std::atomic<bool> progress_drawn{false};
};

} // namespace velto
