// The runs of one invocation: --runs K of them, their summary, and the
// result record. Only code that is the same on every OS.
#pragma once

#include "app/options.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "solver/workload.hpp"
#include "stress/stress_run.hpp"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// How a series ended; the prompt and the exit status follow from it.
enum class SeriesEnd : std::uint8_t {
  refused,       ///< the record's path was refused; nothing ran
  interrupted,   ///< the user stopped a run, and with it the series
  invalid,       ///< every run ended, and at least one was invalid
  not_recorded,  ///< every run was valid, but the record could not be written
  valid,         ///< every run was valid, and the record (if asked for) written
  ended_by_user, ///< a stability test of no set time, ended by Ctrl-C without an error
};

/// Whether the program asks for Enter before it exits: not when nothing ran
/// or the user asked to stop.
bool waits_for_enter(SeriesEnd end);

/// 0 for a valid series, 1 otherwise.
int exit_status(SeriesEnd end);

/// "cannot write the result record to '{path}': {reason}".
std::string record_path_message(const std::string& path, const std::string& reason);

/// Checks the record's path (when one is asked for) before anything is
/// measured, makes the line's runs one after another on `machine` (stopping
/// after an interrupted one), prints the summary line after a series of more
/// than one run, and writes the record. Problems with the record are one
/// line on `err`.
SeriesEnd run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                     TopologyCache& topology, const Machine& machine,
                     const WorkloadFactory& workloads, std::ostream& out, std::ostream& err);

/// Runs the stability test the line asks for (--stress) on `machine`: refuses
/// --threading and what the plan refuses (a size without known answers, no
/// topology, no memory), checks the record's path, runs it, prints its verdict
/// and writes the record. `after_step` is the tests' seam (empty otherwise).
SeriesEnd run_stress_test(const CommandLine& line, const std::vector<std::string>& arguments,
                          TopologyCache& topology, const Machine& machine, std::ostream& out,
                          std::ostream& err, const StressStepHook& after_step = {});

} // namespace velto
