// The run engine: shared state, threads, phases, interruption and join.
#include "engine/run_engine.hpp"

#include "platform/interrupt.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <exception>
#include <new>
#include <stdexcept>
#include <thread>

namespace velto {

namespace {

// Slot, thread handle, the barrier's share and room for the kind's result
// (a benchmark's is 40 bytes), per thread.
std::uint64_t bookkeeping_bytes(std::uint32_t threads) {
  constexpr std::uint64_t result_room = 40;
  constexpr std::uint64_t per_thread =
      sizeof(ProgressSlot) + result_room + sizeof(std::thread) + 64;
  return per_thread * threads;
}

std::ptrdiff_t checked_participants(const Machine& machine, std::uint32_t threads) {
  if (static_cast<std::uint64_t>(threads) > static_cast<std::uint64_t>(StartBarrier::max())) {
    throw std::length_error("too many participants for the start barrier");
  }
  // Refused before it is asked for: where the system overcommits, an absurd
  // count would otherwise be granted and then zeroed page by page.
  const std::uint64_t available = machine.available_memory();
  if (available != 0 && bookkeeping_bytes(threads) > available) {
    throw std::bad_alloc();
  }
  return static_cast<std::ptrdiff_t>(threads);
}

void run_worker(RunState& run, RunKind& kind, std::uint32_t index) {
  Worker worker(run, index);
  apply_placement(run.machine, run.plan, index);
  struct Release {
    RunKind& kind;
    Worker& worker;
    ~Release() { kind.release(worker); }
  } const release{kind, worker};

  if (!kind.prepare(worker)) {
    run.start_barrier.arrive_and_drop();
    return;
  }
  if (!next_phase(run, worker)) {
    return;
  }
  if (!kind.initialize(worker)) {
    run.start_barrier.arrive_and_drop();
    return;
  }
  if (!next_phase(run, worker)) {
    return;
  }
  kind.ready(worker);
  run.start_barrier.arrive_and_wait();
  kind.work(worker);
}

// Starts workers 1..P-1; false when one could not start, which has then
// stopped the run and left the barrier for every thread that will never come.
bool start_workers(RunState& run, RunKind& kind) {
  std::vector<std::thread>& started = run.started;
  for (std::uint32_t i = 1; i < run.threads; ++i) {
    try {
      started.push_back(run.machine.start_thread([&run, &kind, i] { run_worker(run, kind, i); }));
    } catch (const std::exception& error) {
      const Worker coordinator(run, 0);
      coordinator.fail(fmt::format("could not start thread {}: {}; aborting", i, error.what()),
                       RunIssue::could_not_prepare);
      // The barrier counts every thread of the run. The stop request is up
      // before the first phase can complete, so the threads that did start
      // leave after it; the missing ones (and worker 0, which need not run
      // now) drop out of that phase on their own behalf.
      const std::uint32_t missing = run.threads - static_cast<std::uint32_t>(started.size());
      for (std::uint32_t k = 0; k < missing; ++k) {
        run.start_barrier.arrive_and_drop();
      }
      return false;
    }
  }
  return true;
}

} // namespace

RunState::RunState(const Machine& machine_, std::uint32_t threads_, PlacementPlan plan_,
                   std::ostream& out_, std::ostream& err_)
    : machine(machine_), threads(threads_), plan(std::move(plan_)), out(out_), err(err_),
      start_barrier(checked_participants(machine_, threads_)), progress_board(threads_) {
  problems.reserve(static_cast<std::size_t>(threads) + 4);
  if (threads > 1) {
    started.reserve(threads - 1);
  }
}

void Worker::say(std::string_view line) const {
  const std::lock_guard lock(run_.console_lock);
  write_line(run_.out, line);
}

void Worker::fail(std::string_view message, RunIssue issue) const {
  {
    const std::lock_guard lock(run_.console_lock);
    write_line(run_.err, message);
    stop_->raise();
  }
  // Room for every thread's problem was reserved; should the copy of the text
  // fail all the same, the raised stop request still makes the run invalid.
  try {
    const std::lock_guard lock(run_.results_lock);
    run_.problems.push_back({issue, std::string(message)});
  } catch (const std::exception&) {
  }
}

// A thread that ends before the common start drops out of the barrier rather
// than merely arriving: its arrival counts for the phase it would have reached
// next, and no later phase waits for it. Arriving alone is not enough, because
// a thread that fails right after a phase can raise the stop request before a
// slower one has looked at it after that same phase; the slower one then goes
// on to the next phase and would wait there forever.
bool next_phase(RunState& run, const Worker& worker) {
  run.start_barrier.arrive_and_wait();
  if (worker.stop_raised()) {
    run.start_barrier.arrive_and_drop();
    return false;
  }
  return true;
}

RunEnd run_workers(RunState& run, RunKind& kind) {
  // From the first worker to the join, Ctrl-C (SIGINT, SIGTERM) raises the
  // stop request, and every worker leaves at its next check of it.
  InterruptGuard interrupt_guard(run.stop_request->flag());
  if (start_workers(run, kind)) {
    run_worker(run, kind, 0);
  }
  for (std::thread& thread : run.started) {
    if (thread.joinable()) {
      thread.join();
    }
  }
  interrupt_guard.restore();
  if (interrupt_guard.interrupted()) {
    if (run.live_line_open.load(std::memory_order_relaxed)) {
      write_line(run.out, ""); // the live line the reporter left
    }
    if (!run.interrupted_line.empty()) {
      write_line(run.err, run.interrupted_line);
    }
    run.problems.push_back({RunIssue::interrupted, run.interrupted_line});
  }
  return run.stop_request->raised() ? RunEnd::stopped : RunEnd::finished;
}

} // namespace velto
