// The stability test's invocation (--stress): its refusals, its plan, the
// test itself and its record.
#pragma once

#include "app/invocation.hpp"
#include "app/options.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "stress/stress_run.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// Runs the stability test the line asks for (--stress) on `machine`: refuses
/// --threading and what the plan refuses (a size without known answers, no
/// topology, no memory), checks the record's path, runs it, prints its verdict
/// and writes the record. `after_step` is the tests' seam (empty otherwise).
SeriesEnd run_stress_test(const CommandLine& line, const std::vector<std::string>& arguments,
                          TopologyCache& topology, const Machine& machine, std::ostream& out,
                          std::ostream& err, const StressStepHook& after_step = {});

} // namespace velto
