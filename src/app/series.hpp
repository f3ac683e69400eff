// The runs of one invocation: --runs K of them, their summary, and the
// result record. Only code that is the same on every OS.
#pragma once

#include "app/driver.hpp"
#include "app/options.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// How a series ended.
struct SeriesOutcome {
  bool refused = false;     ///< the record's path was refused; nothing ran
  bool all_valid = false;   ///< every run was valid
  bool recorded = true;     ///< the record was written, or none was asked for
  bool interrupted = false; ///< the user stopped a run, and with it the series
};

/// "cannot write the result record to '{path}': {reason}".
std::string record_path_message(const std::string& path, const std::string& reason);

/// Checks the record's path (when one is asked for) before anything is
/// measured, makes the line's runs one after another (stopping after an
/// interrupted one), prints the summary line after a series of more than one
/// run, and writes the record. Problems with the record are one line on `err`.
SeriesOutcome run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                         TopologyCache& topology, std::ostream& out, std::ostream& err,
                         const DriverServices& services);

} // namespace velto
