// The run coordinator: from the options to the joined workers and the report.
#include "bench/coordinator.hpp"

#include "bench/placement.hpp"
#include "bench/rate_samples.hpp"
#include "bench/report.hpp"
#include "bench/worker.hpp"
#include "platform/cpu.hpp"
#include "platform/format.hpp"
#include "platform/interrupt.hpp"
#include "platform/memory.hpp"
#include "platform/output.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velto {

std::uint32_t clamp_duration(std::uint32_t seconds) {
  return std::clamp(seconds, min_duration, max_duration);
}

namespace {

std::uint64_t shown_frequency(const TimerInfo& info) {
  const std::int64_t hz = info.report_frequency != 0 ? info.report_frequency : info.frequency;
  return hz > 0 ? static_cast<std::uint64_t>(hz) : 0;
}

// The objects the workers of one run share. Their size grows with the thread
// count, so building them is where an absurd count runs out of memory.
struct SharedRunState {
  explicit SharedRunState(std::uint32_t threads)
      : start_barrier(checked_participants(threads)), progress_board(threads) {}

  static std::ptrdiff_t checked_participants(std::uint32_t threads) {
    if (static_cast<std::uint64_t>(threads) > static_cast<std::uint64_t>(StartBarrier::max())) {
      throw std::length_error("too many participants for the start barrier");
    }
    // Refused before it is asked for: where the system overcommits, an absurd
    // count would otherwise be granted and then zeroed page by page.
    const std::uint64_t available = available_physical_memory();
    if (available != 0 && bookkeeping_bytes(threads) > available) {
      throw std::bad_alloc();
    }
    return static_cast<std::ptrdiff_t>(threads);
  }

  // Slot, result, thread handle and the barrier's share, per thread.
  static std::uint64_t bookkeeping_bytes(std::uint32_t threads) {
    constexpr std::uint64_t per_thread =
        sizeof(ProgressSlot) + sizeof(ThreadResult) + sizeof(std::thread) + 64;
    return per_thread * threads;
  }

  std::mutex console_lock;
  std::mutex results_lock;
  StartBarrier start_barrier;
  std::shared_ptr<StopState> stop_request = std::make_shared<StopState>();
  ProgressBoard progress_board;
};

// Prints what went wrong and keeps it as a problem of the run. The console
// text is the problem's own message.
void report_problem(RunResult& result, std::ostream& err, RunIssue issue, std::string message) {
  write_line(err, message);
  result.problems.push_back({issue, std::move(message)});
}

void print_header(const RunParameters& parameters, std::ostream& out) {
  const std::uint32_t threads = parameters.thread_plan.thread_count;
  const std::uint64_t n = parameters.grid_size;
  const std::uint64_t per_thread = memory_per_thread(n);
  write_line(out, cpu_brand_string());
  write_line(out, isa_feature_list());
  write_line(out, fmt::format("running with {} thread{} ({})", threads, threads > 1 ? "s" : "",
                              name_of_choice(threading_table, parameters.threading)));
  write_line(out, fmt::format("{} x {} x {} grid", n, n, n));
  write_line(out, format_bytes(per_thread) + " per thread");
  write_line(out, format_bytes(per_thread * threads) + " total");
}

// False when the run must not start; the reason is then a problem of `result`.
bool check_timers(const RunParameters& parameters, const RunHooks& hooks, const TimerInfo& fast,
                  const TimerInfo& coarse, RunResult& result, std::ostream& out,
                  std::ostream& err) {
  const std::string_view source = timer_source_name(fast.source);
  write_line(out, fmt::format("Fast Timer Frequency: {} ({})",
                              format_quantity(shown_frequency(fast), "Hz"), source));
  write_line(out, "Coarse Timer Frequency: " + format_quantity(shown_frequency(coarse), "Hz"));

  if (!hooks.is_timer_compliant(fast)) {
    if (!parameters.bypass_timer_check) {
      report_problem(result, err, RunIssue::timer_not_compliant,
                     fmt::format("Fast Timer is not HWBOT compliant (fast timer source: {}); "
                                 "aborting\n"
                                 "Use --bypass-timer-check to run regardless if you are sure that "
                                 "this is a detection error in terms of your windows version, "
                                 "processor, or timer",
                                 source));
      return false;
    }
    print_warning_banner(err);
    write_line(err, fmt::format("Fast timer is not compliant with HWBOT rules (fast timer source: "
                                "{})",
                                source));
    write_line(err, "Check that this is a detection error in terms of your windows version, "
                    "processor, or timer before submitting");
  }

  // Two seconds beyond the duration cover allocation, initialisation and validation.
  const std::int64_t horizon = static_cast<std::int64_t>(parameters.duration) + 2;
  if (timer_will_overflow(fast, read_fast_timer(), horizon)) {
    report_problem(result, err, RunIssue::timer_overflow,
                   "fast timer will overflow during the run; aborting");
    return false;
  }
  if (timer_will_overflow(coarse, static_cast<std::int64_t>(read_coarse_timer()), horizon)) {
    report_problem(result, err, RunIssue::timer_overflow,
                   "coarse timer will overflow during the run; aborting");
    return false;
  }
  return true;
}

} // namespace

RunResult run_threads(const RunParameters& parameters, const RunHooks& hooks, std::ostream& out,
                      std::ostream& err) {
  const std::uint32_t threads = parameters.thread_plan.thread_count;
  RunResult result;
  result.expected_threads = threads;
  result.workload_name = parameters.workload_name;
  result.facts.threads = threads;
  result.facts.duration = parameters.duration;
  if (threads == 0) {
    // The coordinator always asks for at least one; a run of none proves nothing.
    report_problem(result, err, RunIssue::could_not_prepare, "no threads to run; aborting");
    result.stop_raised = true;
    return result;
  }

  std::unique_ptr<SharedRunState> shared;
  std::vector<std::thread> started;
  try {
    shared = std::make_unique<SharedRunState>(threads);
    // Room for every result and every worker's problem up front: a worker's
    // append must not throw.
    result.results.reserve(threads);
    result.problems.reserve(static_cast<std::size_t>(threads) + 4);
    started.reserve(threads - 1);
    result.facts.plan = parameters.thread_plan.plan;
    result.facts.samples.reserve(sample_capacity(parameters.duration));
  } catch (const std::exception&) {
    report_problem(
        result, err, RunIssue::could_not_prepare,
        fmt::format("not enough memory to prepare a run of {} threads; aborting", threads));
    return result;
  }

  print_header(parameters, out);
  const TimerInfo fast = hooks.fast_timer_info();
  const TimerInfo coarse = hooks.coarse_timer_info();
  if (!check_timers(parameters, hooks, fast, coarse, result, out, err)) {
    return result;
  }

  RunContext run{parameters,
                 result,
                 shared->console_lock,
                 shared->results_lock,
                 shared->start_barrier,
                 shared->stop_request,
                 shared->progress_board,
                 fast,
                 coarse,
                 out,
                 err};

  // From the first worker to the join, Ctrl-C (SIGINT, SIGTERM) raises the
  // stop request, and every worker leaves at its next check of it.
  InterruptGuard interrupt_guard(shared->stop_request->flag());
  bool all_started = true;
  for (std::uint32_t i = 1; i < threads; ++i) {
    try {
      started.push_back(hooks.start_thread([&run, i] { run_worker(run, i); }));
    } catch (const std::exception& error) {
      std::string message = fmt::format("could not start thread {}: {}; aborting", i, error.what());
      {
        const std::lock_guard lock(shared->console_lock);
        write_line(err, message);
        shared->stop_request->raise();
      }
      {
        const std::lock_guard lock(shared->results_lock);
        result.problems.push_back({RunIssue::could_not_prepare, std::move(message)});
      }
      // The barrier counts every thread of the run. The stop request is up
      // before the first phase can complete, so the threads that did start
      // leave after it; the missing ones (and worker 0, which need not run
      // now) drop out of that phase on their own behalf.
      const std::uint32_t missing = threads - static_cast<std::uint32_t>(started.size());
      for (std::uint32_t k = 0; k < missing; ++k) {
        shared->start_barrier.arrive_and_drop();
      }
      all_started = false;
      break;
    }
  }
  if (all_started) {
    run_worker(run, 0);
  }
  for (std::thread& thread : started) {
    if (thread.joinable()) {
      thread.join();
    }
  }
  interrupt_guard.restore();
  result.stop_raised = shared->stop_request->raised();
  if (interrupt_guard.interrupted()) {
    if (run.progress_drawn.load(std::memory_order_relaxed)) {
      write_line(out, ""); // the live line the reporter left
    }
    report_problem(result, err, RunIssue::interrupted, "run interrupted; aborting");
  }
  return result;
}

ScoreReport run_benchmark(RunConfig config, TopologyCache& topology, std::ostream& out,
                          std::ostream& err, const RunHooks& hooks) {
  try {
    RunParameters parameters;
    parameters.thread_plan.thread_count =
        config.thread_count != 0 ? config.thread_count
                                 : auto_thread_count(get_topology(topology), config.grid_size);
    // Only the two managers with a plan need the topology; "os" leaves
    // placement to the operating system.
    if (config.threading != Threading::os) {
      parameters.thread_plan.plan = make_placement_plan(config.threading, get_topology(topology));
    }
    init_large_pages();
    parameters.large_pages = config.large_pages;
    parameters.workload_name = std::move(config.workload);
    parameters.duration = clamp_duration(config.duration);
    parameters.grid_size = config.grid_size;
    parameters.bypass_timer_check = config.bypass_timer_check;
    parameters.threading = config.threading;
    parameters.workload_factory = hooks.workload_factory;

    const RunResult result = run_threads(parameters, hooks, out, err);
    return print_report(result, out, err);
  } catch (const std::exception& error) {
    // Every worker has been joined by now: run_threads lets nothing escape
    // while threads run.
    ScoreReport report;
    report.problems.push_back(
        {RunIssue::could_not_prepare, fmt::format("the run failed: {}", error.what())});
    write_line(err, report.problems.back().message);
    print_invalid_banner(err);
    return report;
  }
}

ScoreReport run_benchmark(RunConfig config, TopologyCache& topology, std::ostream& out,
                          std::ostream& err) {
  return run_benchmark(std::move(config), topology, out, err, RunHooks{});
}

} // namespace velto
