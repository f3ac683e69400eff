// One benchmark run from the driver's options to the score: thread count,
// placement plan, run header, timer checks, launch and join of the workers.
#pragma once

#include "bench/run_config.hpp"
#include "bench/run_records.hpp"
#include "platform/timers.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <functional>
#include <ostream>
#include <thread>

namespace velto {

/// Starts a thread running `body`; throws std::system_error when it cannot.
using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

/// The probes and services a run reads, replaceable so tests can run a real
/// coordinator with a timer of their choosing, a workload that fails on
/// purpose, or a thread that cannot be started.
struct RunHooks {
  std::function<TimerInfo()> fast_timer_info = velto::fast_timer_info;
  std::function<TimerInfo()> coarse_timer_info = velto::coarse_timer_info;
  std::function<bool(const TimerInfo&)> is_timer_compliant = velto::is_timer_compliant;
  WorkloadFactory workload_factory = [](std::string_view name, std::uint32_t thread_index) {
    return make_workload(name, thread_index);
  };
  ThreadStarter start_thread = [](std::function<void()> body) {
    return std::thread(std::move(body));
  };
};

/// `seconds` clamped to 1..1000.
std::uint32_t clamp_duration(std::uint32_t seconds);

/// Runs the benchmark `config` describes and prints its verdict. The topology is
/// detected through `topology` only when the thread count or the plan needs it.
/// Never throws; any failure ends in an invalid report.
ScoreReport run_benchmark(RunConfig config, TopologyCache& topology, std::ostream& out,
                          std::ostream& err);
/// As above with the probes and services of `hooks`.
ScoreReport run_benchmark(RunConfig config, TopologyCache& topology, std::ostream& out,
                          std::ostream& err, const RunHooks& hooks);

/// Prints the run header, checks the timers, runs worker 0 on this thread and
/// the others on new ones, and collects their results. An aborted run returns
/// no results. An interruption (Ctrl-C, SIGTERM) while the workers run stops
/// them; the run then ends the progress line, says "run interrupted; aborting"
/// on `err` and comes back interrupted.
RunResult run_threads(const RunParameters& parameters, const RunHooks& hooks, std::ostream& out,
                      std::ostream& err);

} // namespace velto
