// The worker body and the live progress line.
#include "bench/worker.hpp"

#include "bench/placement.hpp"
#include "bench/rate_samples.hpp"
#include "platform/cpu_load.hpp"
#include "platform/output.hpp"
#include "platform/timers.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
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
std::int64_t coarse_reading() {
  return static_cast<std::int64_t>(read_coarse_timer());
}

class Worker {
public:
  Worker(RunContext& run, std::uint32_t thread_index)
      : run_(run), params_(run.parameters), stop_(run.stop_request), index_(thread_index),
        is_reporter_(thread_index == 0) {}

  void run() {
    apply_placement(params_.thread_plan, index_);
    if (is_reporter_) {
      say(std::string("allocating fields.... ") + (params_.large_pages ? "(large pages)" : ""));
    }
    const std::int64_t t_init0 = read_fast_timer();

    workload_ = create_workload();
    if (!workload_) {
      fail_and_arrive(fmt::format("could not initalize workload {} in thread {}",
                                  params_.workload_name, index_));
      return;
    }
    const FieldConfig config{params_.large_pages, params_.grid_size, run_dx};
    if (const StatusMessage error = workload_->allocate(config)) {
      fail_and_arrive(fmt::format("field allocation failed in thread {}\n{}", index_, *error));
      return;
    }
    if (!arrive_and_continue()) {
      return;
    }

    if (is_reporter_) {
      say("initalizing fields...");
    }
    if (const StatusMessage error = workload_->initialize()) {
      fail_and_arrive(fmt::format("failed to initalize field in thread {}\n{}", index_, *error));
      return;
    }
    if (!arrive_and_continue()) {
      return;
    }

    const std::int64_t t_init1 = read_fast_timer();
    if (is_reporter_) {
      const std::int64_t init_ms = ticks_to_milliseconds(run_.fast_timer, t_init0, t_init1);
      // Only the reporter writes it; the coordinator reads it after the join.
      run_.result.facts.init_ms = init_ms;
      say(fmt::format("initialization took {}ms", init_ms));
    }
    run_.start_barrier.arrive_and_wait();
    if (is_reporter_) {
      say("starting bench..");
    }
    timed_loop();
  }

private:
  std::unique_ptr<Workload> create_workload() const {
    // Running out of memory for the workload object itself is the same
    // failure as an unknown name: this thread has nothing to run.
    try {
      return params_.workload_factory(params_.workload_name, index_);
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void say(std::string_view line) const {
    const std::lock_guard lock(run_.console_lock);
    write_line(run_.out, line);
  }

  void fail(std::string_view message) const {
    {
      const std::lock_guard lock(run_.console_lock);
      write_line(run_.err, message);
      stop_->raise();
    }
    // Room for every worker's problem was reserved; should the copy of the
    // text fail all the same, the raised stop request still makes the run invalid.
    try {
      const std::lock_guard lock(run_.results_lock);
      run_.result.problems.push_back({RunIssue::worker_failed, std::string(message)});
    } catch (const std::exception&) {
    }
  }

  // A worker that ends before the common start drops out of the barrier
  // rather than merely arriving: its arrival counts for the phase it would
  // have reached next, and no later phase waits for it. Arriving alone is not
  // enough, because a worker that fails right after a phase can raise the stop
  // request before a slower one has looked at it after that same phase; the
  // slower one then goes on to the next phase and would wait there forever.
  void fail_and_arrive(std::string_view message) const {
    fail(message);
    run_.start_barrier.arrive_and_drop();
  }

  bool arrive_and_continue() const {
    run_.start_barrier.arrive_and_wait();
    if (stop_->raised()) {
      run_.start_barrier.arrive_and_drop();
      return false;
    }
    return true;
  }

  void timed_loop() {
    const TimerInfo& coarse = run_.coarse_timer;
    const TimerInfo& fast = run_.fast_timer;
    ProgressBoard& board = run_.progress_board;
    ProgressSlot& slot = board[index_];
    const StopState& stop = *stop_;
    const std::uint64_t updates_per_step = workload_->updates_per_step();
    const std::int64_t duration_ms = static_cast<std::int64_t>(params_.duration) * 1000;

    // The reporter's evidence: rate samples into the room reserved before the
    // run, and the machine's processor time around the loop.
    std::optional<RateSampler> sampler;
    CpuTimes cpu_before;
    if (is_reporter_) {
      sampler.emplace(run_.result.facts.samples, updates_per_step);
      cpu_before = params_.read_cpu_times();
    }

    std::uint64_t iterations = 0;
    std::int64_t last_elapsed = 0;
    const std::int64_t c0 = coarse_reading();
    const std::int64_t f0 = read_fast_timer();
    if (is_reporter_) {
      // Drawn at the top of the first iteration, before anything can end the loop.
      run_.progress_drawn.store(true, std::memory_order_relaxed);
    }
    for (;;) {
      if (is_reporter_) {
        const std::lock_guard lock(run_.console_lock);
        print_progress(run_.out, last_elapsed / 1000, params_.duration, board);
      }
      if (const StatusMessage error = workload_->before_step(iterations)) {
        fail(*error);
        return;
      }
      if (const StatusMessage error = workload_->step()) {
        fail(*error);
        return;
      }
      if (const StatusMessage error = workload_->after_step(iterations)) {
        fail(*error);
        return;
      }
      if (stop.raised()) {
        return;
      }
      ++iterations;
      last_elapsed = ticks_to_milliseconds(coarse, c0, coarse_reading());
      if (last_elapsed > 0) {
        slot.rate.store(static_cast<double>(updates_per_step * iterations) /
                            (static_cast<double>(last_elapsed) * 1000.0),
                        std::memory_order_relaxed);
      }
      slot.iterations.store(iterations, std::memory_order_relaxed);
      if (is_reporter_) {
        sampler->observe(last_elapsed, board);
      }
      // The coarse timer alone ends the loop.
      if (last_elapsed >= duration_ms) {
        break;
      }
    }
    const std::int64_t f1 = read_fast_timer();
    const std::int64_t c1 = coarse_reading();
    if (is_reporter_) {
      run_.result.facts.other_cpu_share = other_cpu_share(cpu_before, params_.read_cpu_times());
    }

    if (is_reporter_) {
      {
        const std::lock_guard lock(run_.console_lock);
        print_progress(run_.out, ticks_to_seconds(fast, f0, f1), params_.duration, board);
        write_line(run_.out, "");
        run_.progress_drawn.store(false, std::memory_order_relaxed);
      }
      say("validating result..");
    }
    if (const StatusMessage error = workload_->validate(iterations)) {
      fail(*error);
      return;
    }
    const ThreadResult result{index_, ticks_to_milliseconds(coarse, c0, c1),
                              ticks_to_microseconds(fast, f0, f1), iterations,
                              updates_per_step * iterations};
    // The coordinator reserved room for every worker, so the append cannot throw.
    const std::lock_guard lock(run_.results_lock);
    run_.result.results.push_back(result);
  }

  RunContext& run_;
  const RunParameters& params_;
  // The worker's own hold on the stop request, kept until it ends.
  const std::shared_ptr<StopState> stop_;
  const std::uint32_t index_;
  const bool is_reporter_;
  std::unique_ptr<Workload> workload_;
};

} // namespace

void run_worker(RunContext& run, std::uint32_t thread_index) {
  Worker worker(run, thread_index);
  worker.run();
}

} // namespace velto
