// One benchmark run from the driver's options to the score: thread count,
// placement plan, run header, timer checks, the workers on the run engine,
// and the verdict.
#pragma once

#include "benchmark/run_config.hpp"
#include "benchmark/run_records.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "solver/workload.hpp"

#include <cstdint>
#include <ostream>

namespace velto {

/// `seconds` clamped to min_duration..max_duration.
std::uint32_t clamp_duration(std::uint32_t seconds);

/// The parameters of `config`: its thread count or the automatic one, the plan
/// of its threading manager and the duration clamped. The topology is detected
/// through `topology` only when the thread count or the plan needs it.
RunParameters run_parameters(const RunConfig& config, TopologyCache& topology,
                             const Machine& machine);

/// Runs the benchmark `config` describes on `machine`, each thread's workload
/// from `workloads`, and prints its verdict. The topology is detected through
/// `topology` only when the thread count or the plan needs it. Never throws;
/// any failure ends in an invalid report.
ScoreReport run_benchmark(const RunConfig& config, TopologyCache& topology, const Machine& machine,
                          const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

/// Prints the run header, checks the timers, runs the workers on the run
/// engine and collects their results. An aborted run returns no results. An
/// interruption (Ctrl-C, SIGTERM) while the workers run stops them; the run
/// then ends the progress line, says "run interrupted; aborting" on `err` and
/// comes back interrupted.
RunResult run_threads(const RunParameters& parameters, const Machine& machine,
                      const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

} // namespace velto
