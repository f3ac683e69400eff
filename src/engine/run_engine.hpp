// The engine every kind of run shares: the state its threads share, the
// threads themselves with their pinning, the three barrier phases, the stop
// request, interruption and the join. What a thread does between the phases
// belongs to the kind of run (RunKind): the benchmark's timed loop is one.
#pragma once

#include "engine/placement.hpp"
#include "engine/run_problem.hpp"
#include "engine/start_barrier.hpp"
#include "platform/machine.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velto {

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

/// What the threads of one run share. It lives from before the first thread
/// starts until the last one is joined; each thread reaches it with its index.
class RunState {
public:
  /// Throws std::bad_alloc or std::length_error when the bookkeeping of
  /// `threads` threads cannot be had: the slots, the barrier, room for every
  /// problem, or more than the machine's available memory.
  RunState(const Machine& machine, std::uint32_t threads, PlacementPlan plan, std::ostream& out,
           std::ostream& err);
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;

  const Machine& machine;
  const std::uint32_t threads;
  const PlacementPlan plan; ///< processor of worker k; threads beyond its end stay unpinned
  std::ostream& out;        ///< standard output of the run
  std::ostream& err;        ///< standard error of the run
  TimerInfo fast_timer;     ///< described once before the workers start
  TimerInfo coarse_timer;
  std::mutex console_lock; ///< held around every console write of a thread
  std::mutex results_lock; ///< held around appends to the kind's results and to `problems`
  StartBarrier start_barrier;
  std::shared_ptr<StopState> stop_request = std::make_shared<StopState>();
  ProgressBoard progress_board;
  /// What went wrong while the threads ran, in the order it happened; room
  /// for every thread's problem is reserved, so an append does not throw.
  std::vector<RunProblem> problems;
  /// Workers 1..P-1, room reserved; joined before the run ends.
  std::vector<std::thread> started;
  /// Set while the reporter's live line is drawn without its line end, which
  /// an interruption then has to add.
  std::atomic<bool> live_line_open{false};
  /// What an interruption says on the error stream; nothing when empty. Each
  /// kind of run names itself here.
  std::string interrupted_line;
};

/// One thread of a run, as its kind of run sees it.
class Worker {
public:
  Worker(RunState& run, std::uint32_t index) : run_(run), stop_(run.stop_request), index_(index) {}

  std::uint32_t index() const { return index_; }
  /// Thread 0, the coordinator's own thread, prints the progress.
  bool is_reporter() const { return index_ == 0; }
  RunState& run() const { return run_; }
  const Machine& machine() const { return run_.machine; }
  bool stop_raised() const { return stop_->raised(); }

  /// `line` and a newline on standard output, under the console lock.
  void say(std::string_view line) const;
  /// `message` on the error stream and the stop request raised, under one hold
  /// of the console lock; then the message is kept as a problem of the run.
  void fail(std::string_view message, RunIssue issue = RunIssue::worker_failed) const;

private:
  RunState& run_;
  // The thread's own hold on the stop request, kept until it ends.
  const std::shared_ptr<StopState> stop_;
  const std::uint32_t index_;
};

/// What a kind of run does on each of its threads. The engine calls each step
/// on the thread itself, in this order, with barrier phases between them:
/// prepare | initialize | ready | (common start) work; release on every path.
class RunKind {
public:
  virtual ~RunKind() = default;
  /// Before the first phase: make what the thread computes on. False when it
  /// failed; it has said why through Worker::fail.
  virtual bool prepare(Worker& worker) = 0;
  /// Between the first and the second phase. False as for prepare.
  virtual bool initialize(Worker& worker) = 0;
  /// After the second phase, before the common start.
  virtual void ready(Worker& worker) = 0;
  /// From the common start to the end of the thread's work.
  virtual void work(Worker& worker) = 0;
  /// When the thread ends, whatever the path: gives back what prepare made.
  virtual void release(Worker& worker) noexcept = 0;
};

/// Waits at the run's barrier until every thread still in the run has
/// arrived; false, having left the barrier for good, when the stop request is
/// up after it. The phases between the kind's steps are such meetings, and a
/// kind may hold more of its own in `work` (every thread must then hold them).
bool next_phase(RunState& run, const Worker& worker);

/// Runs `kind` on the run's threads: workers 1..P-1 on threads the machine
/// starts, worker 0 on this one, each pinned to its plan entry; then joins them.
/// A thread that cannot start ends the run with "could not start thread {i}:
/// {why}; aborting". While the threads run, Ctrl-C (SIGINT, SIGTERM) raises
/// the stop request; the run then closes an open live line and says the
/// run's interrupted_line. Returns how the run ended: stopped or finished.
RunEnd run_workers(RunState& run, RunKind& kind);

} // namespace velto
