// The stability test's thread work, its tally and its live line.
#include "stress/stress_run.hpp"

#include "platform/output.hpp"
#include "platform/timers.hpp"
#include "solver/field_hash.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <exception>

namespace velto {

void add_point(ProcessorTally& tally, const SegmentPoint& point) {
  if (tally.skipped + 1 < tally.stride) {
    ++tally.skipped;
    return;
  }
  tally.skipped = 0;
  if (tally.series.size() >= max_series_points) {
    // Every other point goes; from now on only every stride-th segment is kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < tally.series.size(); i += 2) {
      tally.series[kept++] = tally.series[i];
    }
    tally.series.resize(kept);
    tally.stride *= 2;
  }
  tally.series.push_back(point);
}

std::string clock_text(std::int64_t seconds) {
  return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string stress_status_line(std::int64_t elapsed_s, std::uint32_t minutes,
                               std::uint64_t segments, std::uint64_t errors, double rate) {
  const std::string planned = minutes == 0
                                  ? std::string(" until Ctrl-C")
                                  : "/" + clock_text(static_cast<std::int64_t>(minutes) * 60);
  return fmt::format("\rstability test {}{}  {} segments  {} error{}  {:.1f} MGups",
                     clock_text(elapsed_s), planned, segments, errors, errors == 1 ? "" : "s",
                     rate);
}

std::string one_line(std::string_view message) {
  std::string line;
  while (!message.empty()) {
    const std::size_t end = std::min(message.find('\n'), message.size());
    if (end != 0) {
      line += (line.empty() ? "" : "; ") + std::string(message.substr(0, end));
    }
    message.remove_prefix(std::min(end + 1, message.size()));
  }
  return line;
}

std::string processor_name(const LogicalProcessor& logical) {
  if (logical.group == 0) {
    return fmt::format("{}", logical.os);
  }
  return fmt::format("{}:{}", logical.group, logical.os);
}

std::string stress_error_line(const StressError& error, const StressProcessor& processor) {
  std::string what;
  if (error.expected_hash) {
    what = fmt::format("hash {:#018x} instead of the known answer {:#018x}",
                       error.found_hash.value_or(0), *error.expected_hash);
  } else {
    what = error.message;
  }
  return fmt::format("error at {:.3f}s on processor {} (core {}, node {}), thread {}, {} at {}: {}",
                     error.t_s, processor_name(processor.logical), processor.logical.core,
                     processor.node, error.thread, name_of_choice(workload_table, error.workload),
                     error.grid_size, what);
}

struct StressRun::Fields {
  std::uint64_t grid_size = 0;
  std::array<std::unique_ptr<FieldSolver>, workload_table.size()> solvers;
  std::size_t owner = 0; ///< the solver that holds the fields
  bool clean = false;    ///< the owner's fields are as its initialize left them
};

struct StressRun::ThreadState {
  std::vector<Fields> sizes;
};

struct StressRun::SegmentEnd {
  bool ok = true;
  std::optional<std::uint64_t> found_hash;
  std::string message;  ///< a failed check's
  double seconds = 0.0; ///< the segment's time without the pulse's pauses
  double end_s = 0.0;   ///< since the common start
};

namespace {

std::size_t kind_index(WorkloadKind kind) {
  return static_cast<std::size_t>(kind);
}

// A stability test's segment needs the fields; a workload that is no field
// solver has none to hash, and fails the thread as a missing one does.
std::unique_ptr<FieldSolver> make_solver(const Worker& worker, const WorkloadFactory& workloads,
                                         WorkloadKind kind) {
  std::unique_ptr<Workload> workload = thread_workload(worker, workloads, kind);
  if (workload && dynamic_cast<FieldSolver*>(workload.get()) == nullptr) {
    worker.fail(fmt::format("could not initalize workload {} in thread {}",
                            name_of_choice(workload_table, kind), worker.index()));
    return nullptr;
  }
  return std::unique_ptr<FieldSolver>(static_cast<FieldSolver*>(workload.release()));
}

} // namespace

StressRun::StressRun(const StressParameters& parameters, const WorkloadFactory& workloads,
                     StressTally& tally)
    : parameters_(parameters), workloads_(workloads), tally_(tally),
      threads_(parameters.plan.threads),
      busy_(std::make_unique<std::atomic<bool>[]>(parameters.plan.walk.size())),
      next_kind_(std::make_unique<std::atomic<std::uint64_t>[]>(parameters.plan.walk.size())),
      pulse_(parameters.seed) {
  tally_.processors.resize(parameters.plan.walk.size());
  tally_.errors.reserve(max_kept_errors);
  for (std::uint32_t t = 0; t < parameters.plan.threads && t < parameters.plan.walk.size(); ++t) {
    busy_[t].store(true, std::memory_order_relaxed);
  }
  // Side by side, the first threads start on different kinds.
  for (std::size_t p = 0; p < parameters.plan.walk.size(); ++p) {
    next_kind_[p].store(p, std::memory_order_relaxed);
  }
}

StressRun::~StressRun() = default;

bool StressRun::prepare(Worker& worker) {
  const std::uint32_t index = worker.index();
  clock_.allocating(worker, parameters_.large_pages);
  try {
    threads_[index] = std::make_unique<ThreadState>();
    for (const std::uint64_t size : parameters_.plan.grid_sizes) {
      Fields& fields = threads_[index]->sizes.emplace_back();
      fields.grid_size = size;
      bool first = true;
      for (const KnownAnswer& answer : parameters_.plan.segments) {
        const std::size_t k = kind_index(answer.workload);
        if (answer.grid_size != size || fields.solvers[k]) {
          continue;
        }
        fields.solvers[k] = make_solver(worker, workloads_, answer.workload);
        if (!fields.solvers[k]) {
          return false;
        }
        if (first) {
          // One set of fields per size; the workloads at that size take turns with it.
          if (!allocate_thread_fields(worker, *fields.solvers[k],
                                      {parameters_.large_pages, size, run_dx})) {
            return false;
          }
          fields.owner = k;
          first = false;
        }
      }
    }
  } catch (const std::exception&) {
    worker.fail(fmt::format("field allocation failed in thread {}", index));
    return false;
  }
  return true;
}

bool StressRun::initialize(Worker& worker) {
  clock_.initializing(worker);
  for (Fields& fields : threads_[worker.index()]->sizes) {
    if (!initialize_thread_fields(worker, *fields.solvers[fields.owner])) {
      return false;
    }
    fields.clean = true;
  }
  return true;
}

void StressRun::ready(Worker& worker) {
  if (!worker.is_reporter()) {
    return;
  }
  const Machine& machine = worker.machine();
  tally_.init_ms = clock_.initialized(worker);
  worker.say("starting stability test..");
  // Read by every thread after the common start, which orders them after this.
  start_ticks_ = machine.read_fast_timer();
  coarse_start_ = static_cast<std::int64_t>(machine.read_coarse_timer());
}

void StressRun::release(Worker& worker) noexcept {
  threads_[worker.index()].reset();
}

double StressRun::seconds_since_start(const Worker& worker) const {
  return static_cast<double>(ticks_to_microseconds(worker.run().fast_timer, start_ticks_,
                                                   worker.machine().read_fast_timer())) /
         1e6;
}

bool StressRun::time_is_up(const Worker& worker) const {
  if (parameters_.request.minutes == 0) {
    return false;
  }
  const auto now = static_cast<std::int64_t>(worker.machine().read_coarse_timer());
  // The coarse timer ends the test, as it ends a benchmark's loop.
  return ticks_to_milliseconds(worker.run().coarse_timer, coarse_start_, now) >=
         static_cast<std::int64_t>(parameters_.request.minutes) * 60'000;
}

void StressRun::draw_status(Worker& worker, bool force) {
  if (!worker.is_reporter()) {
    return;
  }
  const auto elapsed = static_cast<std::int64_t>(seconds_since_start(worker));
  if (!force && elapsed <= last_draw_s_) {
    return;
  }
  last_draw_s_ = elapsed;
  RunState& run = worker.run();
  double rate = 0.0;
  for (std::uint32_t i = 0; i < run.progress_board.size(); ++i) {
    rate += run.progress_board[i].rate.load(std::memory_order_relaxed);
  }
  const std::lock_guard lock(run.console_lock);
  run.out << stress_status_line(elapsed, parameters_.request.minutes, segments_done(),
                                errors_found(), rate);
  run.out.flush();
  run.live_line_open.store(true, std::memory_order_relaxed);
}

// Waits while the pulse has the load off; false when the test is to end.
bool StressRun::step_allowed(Worker& worker, std::int64_t& paused_ticks) {
  for (;;) {
    if (worker.stop_raised() || time_is_up(worker)) {
      return false;
    }
    if (parameters_.request.load != StressLoad::pulse) {
      return true;
    }
    const Machine& machine = worker.machine();
    const std::int64_t now = machine.read_fast_timer();
    const std::int64_t t_ms = ticks_to_milliseconds(worker.run().fast_timer, start_ticks_, now);
    std::int64_t off_for_ms = 0;
    {
      const std::lock_guard lock(pulse_lock_);
      if (!pulse_.on_at(t_ms)) {
        off_for_ms = pulse_.interval_end_ms() - t_ms;
      }
    }
    if (off_for_ms <= 0) {
      return true;
    }
    // Short naps, so that Ctrl-C, the end and the live line are never late.
    machine.sleep_milliseconds(static_cast<std::uint32_t>(std::min<std::int64_t>(off_for_ms, 20)));
    paused_ticks += machine.read_fast_timer() - now;
    draw_status(worker, false);
  }
}

// Hands the size's fields to the solver of `answer`'s workload (then their
// owner) and puts them in its initial state; nothing, having failed the
// thread, when they cannot be.
StressRun::Fields* StressRun::take_turn(Worker& worker, ThreadState& thread,
                                        const KnownAnswer& answer) {
  Fields& fields = *std::find_if(thread.sizes.begin(), thread.sizes.end(),
                                 [&](const Fields& f) { return f.grid_size == answer.grid_size; });
  const std::size_t k = kind_index(answer.workload);
  FieldSolver& solver = *fields.solvers[k];
  if (fields.owner != k) {
    solver.take_fields(*fields.solvers[fields.owner]);
    fields.owner = k;
    fields.clean = false;
  }
  // A standing wave that matched its answer is its initial state again; every
  // other segment starts from freshly zeroed and initialised fields.
  if (!fields.clean && !restart_thread_fields(worker, solver)) {
    return nullptr;
  }
  fields.clean = false;
  return &fields;
}

// The segment's steps with every check, then its validation; the first
// error, or nothing when the segment was cut short (the test ends).
std::optional<StatusMessage> StressRun::step_through(Worker& worker, FieldSolver& solver,
                                                     const KnownAnswer& answer,
                                                     std::int64_t& paused_ticks) {
  StatusMessage error;
  for (std::uint64_t s = 0; s < answer.steps && !error; ++s) {
    if (!step_allowed(worker, paused_ticks)) {
      return std::nullopt;
    }
    error = solver.before_step(s);
    if (!error) {
      error = solver.step();
    }
    if (!error) {
      error = solver.after_step(s);
    }
    draw_status(worker, false);
  }
  if (!error) {
    error = solver.validate(answer.steps);
  }
  return error;
}

std::optional<StressRun::SegmentEnd> StressRun::run_segment(Worker& worker, ThreadState& thread,
                                                            const KnownAnswer& answer) {
  const Machine& machine = worker.machine();
  const std::int64_t t0 = machine.read_fast_timer();
  Fields* fields = take_turn(worker, thread, answer);
  if (fields == nullptr) {
    return std::nullopt;
  }
  FieldSolver* solver = fields->solvers[fields->owner].get();
  std::int64_t paused = 0;
  std::optional<StatusMessage> error = step_through(worker, *solver, answer, paused);
  if (!error) {
    return std::nullopt; // an unfinished segment proves nothing either way
  }
  SegmentEnd end;
  if (!*error) {
    end.found_hash = field_hash(solver->state());
    if (!end.found_hash) {
      *error = std::string("the fields could not be hashed");
    }
  }
  end.ok = !*error && *end.found_hash == answer.hash;
  if (*error) {
    end.message = one_line(**error);
    end.found_hash.reset();
  }
  fields->clean = end.ok && answer.workload == WorkloadKind::standing_wave;
  const std::int64_t t1 = machine.read_fast_timer();
  end.seconds =
      static_cast<double>(ticks_to_microseconds(worker.run().fast_timer, t0, t1 - paused)) / 1e6;
  end.end_s = seconds_since_start(worker);
  return end;
}

void StressRun::record(Worker& worker, std::uint32_t processor, const KnownAnswer& answer,
                       std::uint64_t segment, const SegmentEnd& end) {
  RunState& run = worker.run();
  const double updates = static_cast<double>(answer.steps) *
                         static_cast<double>(grid_updates_per_step(answer.grid_size));
  const double rate = end.seconds > 0.0 ? updates / end.seconds / 1e6 : 0.0;
  run.progress_board[worker.index()].rate.store(rate, std::memory_order_relaxed);
  StressError error;
  if (!end.ok) {
    error = {end.end_s, processor,    worker.index(), answer.workload, answer.grid_size,
             segment,   std::nullopt, std::nullopt,   end.message};
    if (end.found_hash) {
      error.expected_hash = answer.hash;
      error.found_hash = end.found_hash;
    }
  }
  {
    const std::lock_guard lock(run.results_lock);
    ProcessorTally& tally = tally_.processors[processor];
    ++tally.segments;
    ++tally_.segments;
    add_point(tally, {end.end_s, answer.workload, answer.grid_size, rate, end.ok});
    if (!end.ok) {
      ++tally.errors;
      if (!tally.first_error_s) {
        tally.first_error_s = end.end_s;
      }
      ++tally_.error_count;
      if (tally_.errors.size() < max_kept_errors) {
        tally_.errors.push_back(error);
      }
    }
  }
  if (end.ok) {
    segments_done_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  errors_found_.fetch_add(1, std::memory_order_relaxed);
  const std::string line = stress_error_line(error, parameters_.plan.walk[processor]);
  const std::lock_guard lock(run.console_lock);
  if (run.live_line_open.exchange(false, std::memory_order_relaxed)) {
    write_line(run.out, "");
  }
  write_line(run.err, line);
  if (parameters_.request.stop_on_error) {
    run.stop_request->raise();
  }
}

std::uint32_t StressRun::next_processor(std::uint32_t from, double arrived_s, double now_s) {
  const auto count = static_cast<std::uint32_t>(parameters_.plan.walk.size());
  if (parameters_.request.load == StressLoad::cycle) {
    const bool dwelt = now_s - arrived_s >= static_cast<double>(parameters_.request.dwell_s);
    return dwelt ? (from + 1) % count : from;
  }
  // The next processor no other thread is on: with as many threads as
  // processors that is, at worst, the one it leaves.
  const std::lock_guard lock(walk_lock_);
  busy_[from].store(false, std::memory_order_relaxed);
  for (std::uint32_t i = 1; i <= count; ++i) {
    const std::uint32_t q = (from + i) % count;
    if (!busy_[q].load(std::memory_order_relaxed)) {
      busy_[q].store(true, std::memory_order_relaxed);
      return q;
    }
  }
  return from;
}

void StressRun::work(Worker& worker) {
  ThreadState& thread = *threads_[worker.index()];
  const std::vector<KnownAnswer>& kinds = parameters_.plan.segments;
  std::uint32_t processor = worker.index();
  double arrived_s = 0.0;
  draw_status(worker, true);
  for (std::uint64_t segment = 0;; ++segment) {
    const std::uint64_t turn = next_kind_[processor].fetch_add(1, std::memory_order_relaxed);
    const KnownAnswer& answer = kinds[static_cast<std::size_t>(turn % kinds.size())];
    const std::optional<SegmentEnd> end = run_segment(worker, thread, answer);
    if (!end) {
      break;
    }
    record(worker, processor, answer, segment, *end);
    if (worker.stop_raised()) {
      break;
    }
    const std::uint32_t next = next_processor(processor, arrived_s, end->end_s);
    if (next != processor) {
      worker.machine().pin_current_thread(parameters_.plan.walk[next].logical);
      processor = next;
      arrived_s = end->end_s;
    }
  }
  {
    const std::lock_guard lock(worker.run().results_lock);
    tally_.elapsed_s = std::max(tally_.elapsed_s, seconds_since_start(worker));
  }
  if (worker.is_reporter()) {
    draw_status(worker, true);
    RunState& run = worker.run();
    const std::lock_guard lock(run.console_lock);
    if (run.live_line_open.exchange(false, std::memory_order_relaxed)) {
      write_line(run.out, "");
    }
  }
}

} // namespace velto
