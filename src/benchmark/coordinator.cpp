// The run coordinator: from the options to the joined workers and the report.
#include "benchmark/coordinator.hpp"

#include "benchmark/benchmark_run.hpp"
#include "benchmark/rate_samples.hpp"
#include "benchmark/report.hpp"
#include "engine/console_text.hpp"
#include "engine/machine_facts.hpp"
#include "engine/placement.hpp"
#include "engine/run_engine.hpp"
#include "engine/run_header.hpp"
#include "platform/format.hpp"
#include "platform/memory.hpp"
#include "platform/output.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>

namespace velto {

std::uint32_t clamp_duration(std::uint32_t seconds) {
  return std::clamp(seconds, min_duration, max_duration);
}

RunParameters run_parameters(const RunConfig& config, TopologyCache& topology,
                             const Machine& machine) {
  RunParameters parameters;
  static_cast<RunConfig&>(parameters) = config;
  parameters.duration = clamp_duration(config.duration);
  parameters.thread_plan.thread_count =
      config.thread_count != 0
          ? config.thread_count
          : auto_thread_count(get_topology(topology, machine), config.grid_size,
                              machine.available_memory(), machine.logical_processor_count());
  // Only the two managers with a plan need the topology; "os" leaves
  // placement to the operating system.
  if (config.threading != Threading::os) {
    parameters.thread_plan.plan =
        make_placement_plan(config.threading, get_topology(topology, machine));
  }
  return parameters;
}

namespace {

// Prints what went wrong and keeps it as a problem of the run. The console
// text is the problem's own message.
void report_problem(RunResult& result, std::ostream& err, RunIssue issue, std::string message) {
  write_line(err, message);
  result.problems.push_back({issue, std::move(message)});
}

// The state the workers share and the benchmark's own, or nothing when the
// bookkeeping of that many threads cannot be had (then a problem of `result`).
struct PreparedRun {
  std::unique_ptr<RunState> state;
  std::unique_ptr<BenchmarkRun> kind;
};
std::optional<PreparedRun> prepare_run(const RunParameters& parameters, const Machine& machine,
                                       const WorkloadFactory& workloads, RunResult& result,
                                       std::ostream& out, std::ostream& err) {
  const std::uint32_t threads = parameters.thread_plan.thread_count;
  try {
    PreparedRun run;
    run.state = std::make_unique<RunState>(machine, threads, parameters.thread_plan.plan, out, err);
    run.state->interrupted_line = "run interrupted; aborting";
    run.kind = std::make_unique<BenchmarkRun>(parameters, workloads, result.facts);
    result.problems.reserve(4);
    result.facts.plan = parameters.thread_plan.plan;
    result.facts.samples.reserve(sample_capacity(parameters.duration));
    return run;
  } catch (const std::exception&) {
    report_problem(
        result, err, RunIssue::could_not_prepare,
        fmt::format("not enough memory to prepare a run of {} threads; aborting", threads));
    return std::nullopt;
  }
}

void print_header(const RunParameters& parameters, const Machine& machine, std::ostream& out) {
  const std::uint64_t n = parameters.grid_size;
  print_run_header({parameters.thread_plan.thread_count,
                    std::string(name_of_choice(threading_table, parameters.threading)),
                    fmt::format("{0} x {0} x {0}", n), memory_per_thread(n)},
                   machine, out);
}

// False when the run must not start; the reason is then a problem of `result`.
bool check_timers(const RunParameters& parameters, const Machine& machine, const TimerInfo& fast,
                  const TimerInfo& coarse, RunResult& result, std::ostream& err) {
  const std::string_view source = timer_source_name(fast.source);
  if (!machine.is_timer_compliant(fast)) {
    if (timer_refused(machine, fast, parameters.bypass_timer_check)) {
      report_problem(result, err, RunIssue::timer_not_compliant,
                     fmt::format("Fast Timer is not HWBOT compliant (fast timer source: {}); "
                                 "aborting\n{}",
                                 source, timer_bypass_advice));
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
  if (timer_will_overflow(fast, machine.read_fast_timer(), horizon)) {
    report_problem(result, err, RunIssue::timer_overflow,
                   "fast timer will overflow during the run; aborting");
    return false;
  }
  if (timer_will_overflow(coarse, static_cast<std::int64_t>(machine.read_coarse_timer()),
                          horizon)) {
    report_problem(result, err, RunIssue::timer_overflow,
                   "coarse timer will overflow during the run; aborting");
    return false;
  }
  return true;
}

// The results, problems and end of the joined run, after what came before it.
void collect(PreparedRun& run, RunEnd end, RunResult& result) {
  result.end = end;
  result.results = std::move(run.kind->results());
  result.problems.insert(result.problems.end(), run.state->problems.begin(),
                         run.state->problems.end());
}

} // namespace

RunResult run_threads(const RunParameters& parameters, const Machine& machine,
                      const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  const std::uint32_t threads = parameters.thread_plan.thread_count;
  RunResult result;
  result.expected_threads = threads;
  result.workload = parameters.workload;
  result.facts.threads = threads;
  result.facts.duration = parameters.duration;
  if (threads == 0) {
    // The coordinator always asks for at least one; a run of none proves nothing.
    report_problem(result, err, RunIssue::could_not_prepare, "no threads to run; aborting");
    result.end = RunEnd::stopped;
    return result;
  }
  std::optional<PreparedRun> run = prepare_run(parameters, machine, workloads, result, out, err);
  if (!run) {
    return result;
  }

  print_header(parameters, machine, out);
  RunState& state = *run->state;
  state.fast_timer = machine.fast_timer_info();
  state.coarse_timer = machine.coarse_timer_info();
  describe_timers(state.fast_timer, state.coarse_timer, out);
  if (!check_timers(parameters, machine, state.fast_timer, state.coarse_timer, result, err)) {
    return result;
  }

  const RunEnd end = run_workers(state, *run->kind);
  collect(*run, end, result);
  return result;
}

ScoreReport run_benchmark(const RunConfig& config, TopologyCache& topology, const Machine& machine,
                          const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  try {
    const RunParameters parameters = run_parameters(config, topology, machine);
    init_large_pages();
    const RunResult result = run_threads(parameters, machine, workloads, out, err);
    return print_report(result, cpu_brand_string(machine.cpuid()), out, err);
  } catch (const std::exception& error) {
    // Every worker has been joined by now: run_threads lets nothing escape
    // while threads run.
    const std::string message = fmt::format("the run failed: {}", error.what());
    write_line(err, message);
    print_invalid_banner(err);
    ScoreReport report;
    report.verdict = Verdict::invalid_for({{RunIssue::could_not_prepare, message}});
    return report;
  }
}

} // namespace velto
