// The benchmark's thread work and the live progress line.
#include "benchmark/benchmark_run.hpp"

#include "benchmark/rate_samples.hpp"
#include "platform/cpu_load.hpp"
#include "platform/output.hpp"
#include "platform/timers.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

namespace velto {

void print_progress(std::ostream& out, std::int64_t elapsed_seconds, std::uint64_t duration,
                    const ProgressBoard& board) {
  double rate = 0.0;
  std::uint64_t iterations = 0;
  for (std::uint32_t i = 0; i < board.size(); ++i) {
    rate += board[i].rate.load(std::memory_order_relaxed);
    const std::uint64_t done = board[i].iterations.load(std::memory_order_relaxed);
    if (done > iterations) {
      iterations = done;
    }
  }
  // Drawn before every iteration: formatted on the stack and written at once,
  // with no heap allocation. The longest line (20-digit numbers) fits.
  std::array<char, 160> line;
  const auto written = fmt::format_to_n(line.data(), line.size(),
                                        "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations",
                                        elapsed_seconds, duration, rate, iterations);
  out.write(line.data(), static_cast<std::streamsize>(std::min(written.size, line.size())));
  out.flush();
}

namespace {

// The coarse timer counts milliseconds in an unsigned value; the conversions
// take signed readings, and a tick count never reaches 2^63.
std::int64_t coarse_reading(const Machine& machine) {
  return static_cast<std::int64_t>(machine.read_coarse_timer());
}

} // namespace

BenchmarkRun::BenchmarkRun(const RunParameters& parameters, const WorkloadFactory& workloads,
                           RunFacts& facts)
    : parameters_(parameters), workloads_(workloads), facts_(facts),
      workload_of_(parameters.thread_plan.thread_count) {
  // Room for every result up front: a worker's append must not throw.
  results_.reserve(parameters.thread_plan.thread_count);
}

bool BenchmarkRun::prepare(Worker& worker) {
  clock_.allocating(worker, parameters_.large_pages);
  std::unique_ptr<Workload>& workload = workload_of_[worker.index()];
  workload = thread_workload(worker, workloads_, parameters_.workload);
  return workload &&
         allocate_thread_fields(worker, *workload,
                                {parameters_.large_pages, parameters_.grid_size, run_dx});
}

bool BenchmarkRun::initialize(Worker& worker) {
  clock_.initializing(worker);
  return initialize_thread_fields(worker, *workload_of_[worker.index()]);
}

void BenchmarkRun::ready(Worker& worker) {
  if (worker.is_reporter()) {
    // Only the reporter writes it; the coordinator reads it after the join.
    facts_.init_ms = clock_.initialized(worker);
  }
}

void BenchmarkRun::work(Worker& worker) {
  if (worker.is_reporter()) {
    worker.say("starting bench..");
  }
  Workload& workload = *workload_of_[worker.index()];
  const std::optional<LoopEnd> end = timed_loop(worker, workload);
  if (end) {
    deliver(worker, workload, *end);
  }
}

void BenchmarkRun::release(Worker& worker) noexcept {
  workload_of_[worker.index()].reset();
}

bool BenchmarkRun::step(const Worker& worker, Workload& workload, std::uint64_t iteration) {
  StatusMessage error = workload.before_step(iteration);
  if (!error) {
    error = workload.step();
  }
  if (!error) {
    error = workload.after_step(iteration);
  }
  if (error) {
    worker.fail(*error);
    return false;
  }
  return !worker.stop_raised();
}

std::optional<BenchmarkRun::LoopEnd> BenchmarkRun::timed_loop(Worker& worker, Workload& workload) {
  RunState& run = worker.run();
  const Machine& machine = worker.machine();
  const bool reporter = worker.is_reporter();
  ProgressSlot& slot = run.progress_board[worker.index()];
  const std::uint64_t updates_per_step = workload.updates_per_step();
  const std::int64_t duration_ms = static_cast<std::int64_t>(parameters_.duration) * 1000;

  // The reporter's evidence: rate samples into the room reserved before the
  // run, and the machine's processor time around the loop.
  std::optional<RateSampler> sampler;
  CpuTimes cpu_before;
  if (reporter) {
    sampler.emplace(facts_.samples, updates_per_step);
    cpu_before = machine.read_cpu_times();
  }

  std::uint64_t iterations = 0;
  std::int64_t last_elapsed = 0;
  const std::int64_t c0 = coarse_reading(machine);
  const std::int64_t f0 = machine.read_fast_timer();
  if (reporter) {
    // Drawn at the top of the first iteration, before anything can end the loop.
    run.live_line_open.store(true, std::memory_order_relaxed);
  }
  for (;;) {
    if (reporter) {
      const std::lock_guard lock(run.console_lock);
      print_progress(run.out, last_elapsed / 1000, parameters_.duration, run.progress_board);
    }
    if (!step(worker, workload, iterations)) {
      return std::nullopt;
    }
    ++iterations;
    last_elapsed = ticks_to_milliseconds(run.coarse_timer, c0, coarse_reading(machine));
    if (last_elapsed > 0) {
      slot.rate.store(static_cast<double>(updates_per_step * iterations) /
                          (static_cast<double>(last_elapsed) * 1000.0),
                      std::memory_order_relaxed);
    }
    slot.iterations.store(iterations, std::memory_order_relaxed);
    if (reporter) {
      sampler->observe(last_elapsed, run.progress_board);
    }
    // The coarse timer alone ends the loop.
    if (last_elapsed >= duration_ms) {
      break;
    }
  }
  const std::int64_t f1 = machine.read_fast_timer();
  const std::int64_t c1 = coarse_reading(machine);
  if (reporter) {
    facts_.other_cpu_share = other_cpu_share(cpu_before, machine.read_cpu_times());
  }
  return LoopEnd{iterations, ticks_to_milliseconds(run.coarse_timer, c0, c1),
                 ticks_to_microseconds(run.fast_timer, f0, f1),
                 ticks_to_seconds(run.fast_timer, f0, f1)};
}

void BenchmarkRun::deliver(Worker& worker, Workload& workload, const LoopEnd& end) {
  RunState& run = worker.run();
  if (worker.is_reporter()) {
    {
      const std::lock_guard lock(run.console_lock);
      print_progress(run.out, end.fast_s, parameters_.duration, run.progress_board);
      write_line(run.out, "");
      run.live_line_open.store(false, std::memory_order_relaxed);
    }
    worker.say("validating result..");
  }
  if (const StatusMessage error = workload.validate(end.iterations)) {
    worker.fail(*error);
    return;
  }
  const std::uint64_t updates = workload.updates_per_step() * end.iterations;
  const ThreadResult result{worker.index(), end.coarse_ms, end.fast_us, end.iterations, updates};
  // Room for every thread's result was reserved, so the append cannot throw.
  const std::lock_guard lock(run.results_lock);
  results_.push_back(result);
}

} // namespace velto
