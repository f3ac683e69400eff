// The stability test's invocation (--stress): its refusals, its plan, the
// test itself and its record.
#pragma once

#include "app/invocation.hpp"
#include "app/options.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "solver/workload.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// Runs the stability test the line asks for (--stress) on `machine`: refuses
/// --threading and what the plan refuses (a size without known answers, no
/// topology, no memory), checks the record's path, runs it, prints its verdict
/// and writes the record. Each thread's solvers come from `workloads`.
SeriesEnd run_stress_test(const CommandLine& line, const std::vector<std::string>& arguments,
                          TopologyCache& topology, const Machine& machine,
                          const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

} // namespace velto
