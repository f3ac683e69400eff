// One stability test from the request to its verdict: the plan, the header,
// the threads on the run engine, the per-processor table, the banner and the
// verdict line.
#pragma once

#include "engine/run_problem.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "stress/stress_plan.hpp"
#include "stress/stress_run.hpp"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// What a test leaves for the record and the exit status.
struct StressOutcome {
  StressParameters parameters;
  StressTally tally;
  StressEnd end = StressEnd::failed;
  std::vector<RunProblem> problems; ///< what stopped it, besides errors
};

/// A processor's median segment rate for each kind of segment (workload and
/// size) it ran, and whether it is more than 10% below the median of the
/// processors of its performance level for that kind. Kinds are compared
/// apart: the two workloads run at different rates.
struct ProcessorRates {
  std::vector<std::optional<double>> median; ///< by the plan's segments
  std::vector<bool> slow;
};

/// "sw 64": a kind of segment as the table heads its column.
std::string segment_label(const KnownAnswer& kind);

/// The rates of every processor of the walk, from their series' verified points.
std::vector<ProcessorRates> processor_rates(const StressPlan& plan, const StressTally& tally);

/// The table, then the banner and the verdict line.
void print_stress_verdict(const StressOutcome& outcome, std::ostream& out, std::ostream& err);

/// Whether the test proved what it was asked to: at least one segment, no
/// error, and it ran its time (or until Ctrl-C when asked for no time).
bool stress_passed(const StressOutcome& outcome);

/// Runs the test `parameters` describe (its plan from make_stress_plan) on
/// `machine`, each thread's solvers from `workloads`, and prints its verdict.
/// Never throws; a failure ends as failed.
StressOutcome run_stress(StressParameters parameters, const Machine& machine,
                         const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

} // namespace velto
