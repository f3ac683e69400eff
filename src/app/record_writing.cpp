// The result record of an invocation.
#include "app/record_writing.hpp"

#include "engine/machine_facts.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

namespace velto {

std::string record_path_message(const std::string& path, const std::string& reason) {
  return fmt::format("cannot write the result record to '{}': {}", path, reason);
}

namespace {

// What the record keeps besides the runs, probed before the first run.
RecordInputs record_opening(const CommandLine& line, const std::vector<std::string>& arguments,
                            TopologyCache& topology, const Machine& machine) {
  RecordInputs record;
  record.build = live_build_facts();
  if (!arguments.empty()) {
    record.command_line.assign(arguments.begin() + 1, arguments.end());
  }
  record.config = line.config;
  record.runs_asked = line.runs;
  record.roofline_asked = line.roofline;
  record.scaling_asked = line.scaling;
  record.started_at = iso8601_utc(machine.unix_time());
  record.machine = probe_machine_facts(machine, topology);
  record.timers = probe_timer_facts(machine);
  return record;
}

} // namespace

bool open_record(const CommandLine& line, const std::vector<std::string>& arguments,
                 TopologyCache& topology, const Machine& machine, RecordInputs& record,
                 std::ostream& err) {
  if (const std::string reason = machine.check_writable_file(*line.export_json); !reason.empty()) {
    write_line(err, record_path_message(*line.export_json, reason));
    return false;
  }
  record = record_opening(line, arguments, topology, machine);
  return true;
}

bool write_record(const std::string& path, RecordInputs& record, const Machine& machine,
                  std::ostream& err) {
  record.finished_at = iso8601_utc(machine.unix_time());
  const std::string reason = machine.replace_file(path, result_record_text(record));
  if (!reason.empty()) {
    write_line(err, record_path_message(path, reason));
    return false;
  }
  return true;
}

} // namespace velto
