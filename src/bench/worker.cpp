// The worker body and the live progress line.
#include "bench/worker.hpp"

#include "bench/placement.hpp"
#include "platform/output.hpp"
#include "platform/timers.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <mutex>
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
  explicit Worker(WorkerArgs args) : args_(std::move(args)), params_(*args_.parameters) {}

  void run() {
    apply_placement(params_.thread_plan, args_.thread_index);
    if (args_.is_reporter) {
      say(std::string("allocating fields.... ") + (params_.large_pages ? "(large pages)" : ""));
    }
    const std::int64_t t_init0 = read_fast_timer();

    workload_ = create_workload();
    if (!workload_) {
      fail_and_arrive(fmt::format("could not initalize workload {} in thread {}",
                                  params_.workload_name, args_.thread_index));
      return;
    }
    const FieldConfig config{&params_.large_pages, params_.grid_size, run_dx};
    if (const StatusMessage error = workload_->allocate(config)) {
      fail_and_arrive(
          fmt::format("field allocation failed in thread {}\n{}", args_.thread_index, *error));
      return;
    }
    if (!arrive_and_continue()) {
      return;
    }

    if (args_.is_reporter) {
      say("initalizing fields...");
    }
    if (const StatusMessage error = workload_->initialize()) {
      fail_and_arrive(
          fmt::format("failed to initalize field in thread {}\n{}", args_.thread_index, *error));
      return;
    }
    if (!arrive_and_continue()) {
      return;
    }

    const std::int64_t t_init1 = read_fast_timer();
    if (args_.is_reporter) {
      say(fmt::format("initialization took {}ms",
                      ticks_to_milliseconds(args_.fast_timer, t_init0, t_init1)));
    }
    args_.start_barrier->arrive_and_wait();
    if (args_.is_reporter) {
      say("starting bench..");
    }
    timed_loop();
  }

private:
  std::unique_ptr<Workload> create_workload() const {
    // Running out of memory for the workload object itself is the same
    // failure as an unknown name: this thread has nothing to run.
    try {
      return params_.workload_factory(params_.workload_name, args_.thread_index);
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void say(std::string_view line) const {
    const std::lock_guard lock(*args_.console_lock);
    write_line(*args_.out, line);
  }

  void fail(std::string_view message) const {
    const std::lock_guard lock(*args_.console_lock);
    write_line(*args_.err, message);
    args_.stop_request->raise();
  }

  // A worker that ends before the common start drops out of the barrier
  // rather than merely arriving: its arrival counts for the phase it would
  // have reached next, and no later phase waits for it. Arriving alone is not
  // enough, because a worker that fails right after a phase can raise the stop
  // request before a slower one has looked at it after that same phase; the
  // slower one then goes on to the next phase and would wait there forever.
  void fail_and_arrive(std::string_view message) const {
    fail(message);
    args_.start_barrier->arrive_and_drop();
  }

  bool arrive_and_continue() const {
    args_.start_barrier->arrive_and_wait();
    if (args_.stop_request->raised()) {
      args_.start_barrier->arrive_and_drop();
      return false;
    }
    return true;
  }

  void timed_loop() {
    const TimerInfo& coarse = args_.coarse_timer;
    const TimerInfo& fast = args_.fast_timer;
    ProgressBoard& board = *args_.progress_board;
    ProgressSlot& slot = board[args_.thread_index];
    const StopState& stop = *args_.stop_request;
    const std::uint64_t updates_per_step = workload_->updates_per_step();
    const std::int64_t duration_ms = static_cast<std::int64_t>(params_.duration) * 1000;

    std::uint64_t iterations = 0;
    std::int64_t last_elapsed = 0;
    const std::int64_t c0 = coarse_reading();
    const std::int64_t f0 = read_fast_timer();
    if (args_.is_reporter) {
      args_.result->progress_line_open = true; // drawn at the top of the first iteration
    }
    for (;;) {
      if (args_.is_reporter) {
        const std::lock_guard lock(*args_.console_lock);
        print_progress(*args_.out, last_elapsed / 1000, params_.duration, board);
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
      // The coarse timer alone ends the loop.
      if (last_elapsed >= duration_ms) {
        break;
      }
    }
    const std::int64_t f1 = read_fast_timer();
    const std::int64_t c1 = coarse_reading();

    if (args_.is_reporter) {
      {
        const std::lock_guard lock(*args_.console_lock);
        print_progress(*args_.out, ticks_to_seconds(fast, f0, f1), params_.duration, board);
        write_line(*args_.out, "");
        args_.result->progress_line_open = false;
      }
      say("validating result..");
    }
    if (const StatusMessage error = workload_->validate(iterations)) {
      fail(*error);
      return;
    }
    const ThreadResult result{args_.thread_index, ticks_to_milliseconds(coarse, c0, c1),
                              ticks_to_microseconds(fast, f0, f1), iterations,
                              updates_per_step * iterations};
    // The coordinator reserved room for every worker, so the append cannot throw.
    const std::lock_guard lock(*args_.results_lock);
    args_.result->results.push_back(result);
  }

  WorkerArgs args_;
  const RunParameters& params_;
  std::unique_ptr<Workload> workload_;
};

} // namespace

void run_worker(WorkerArgs args) {
  Worker worker(std::move(args));
  worker.run();
}

} // namespace velto
