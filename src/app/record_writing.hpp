// The result record of an invocation: its path checked before anything is
// measured, its opening probed, and the record written when the work is done.
#pragma once

#include "app/options.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"
#include "record/result_record.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace velto {

/// "cannot write the result record to '{path}': {reason}".
std::string record_path_message(const std::string& path, const std::string& reason);

/// Checks the record's path before anything is measured (a long run must not
/// be lost to a typing error in it), then probes the record's opening: the
/// build, the command line, the options, the machine and its timers. False,
/// with the line that says why on `err`, when the path is refused.
bool open_record(const CommandLine& line, const std::vector<std::string>& arguments,
                 TopologyCache& topology, const Machine& machine, RecordInputs& record,
                 std::ostream& err);

/// Writes `record`, finished now; false, with the line that says why, when
/// the write failed.
bool write_record(const std::string& path, RecordInputs& record, const Machine& machine,
                  std::ostream& err);

} // namespace velto
