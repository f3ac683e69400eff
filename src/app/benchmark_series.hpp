// The benchmark's invocation: --runs K runs at each thread count of the
// series (one count, or the doubling counts of --scaling), each with its
// roofline when asked for, the summary and scaling lines, and the record.
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

/// Checks the record's path (when one is asked for) before anything is
/// measured, makes the line's runs one after another on `machine` (stopping
/// after an interrupted one), prints the summary line after a series of more
/// than one run, and writes the record. Problems with the record are one
/// line on `err`.
SeriesEnd run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                     TopologyCache& topology, const Machine& machine,
                     const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

} // namespace velto
