// The series of runs and its record.
#include "app/series.hpp"

#include "bench/coordinator.hpp"
#include "bench/machine_facts.hpp"
#include "bench/result_record.hpp"
#include "bench/run_summary.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace velto {

bool waits_for_enter(SeriesEnd end) {
  return end != SeriesEnd::refused && end != SeriesEnd::interrupted;
}

int exit_status(SeriesEnd end) {
  return end == SeriesEnd::valid ? 0 : 1;
}

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
  record.started_at = iso8601_utc(machine.unix_time());
  record.machine = probe_machine_facts(machine, topology);
  record.timers = probe_timer_facts(machine);
  return record;
}

} // namespace

SeriesEnd run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                     TopologyCache& topology, const Machine& machine,
                     const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  const bool recording = line.export_json.has_value();
  RecordInputs record;
  if (recording) {
    // A long run must not be lost to a typing error in the path.
    if (const std::string reason = machine.check_writable_file(*line.export_json);
        !reason.empty()) {
      write_line(err, record_path_message(*line.export_json, reason));
      return SeriesEnd::refused;
    }
    record = record_opening(line, arguments, topology, machine);
  }

  std::vector<ScoreReport> reports;
  reports.reserve(line.runs);
  bool interrupted = false;
  for (std::uint32_t k = 0; k < line.runs && !interrupted; ++k) {
    reports.push_back(run_benchmark(line.config, topology, machine, workloads, out, err));
    // Ctrl-C ends the whole series; the runs done go into the record.
    interrupted = reports.back().verdict.interrupted();
  }
  if (line.runs > 1) {
    write_line(out, summary_line(summarize_runs(reports)));
  }
  const bool all_valid = std::all_of(reports.begin(), reports.end(),
                                     [](const ScoreReport& r) { return r.verdict.valid(); });

  bool recorded = true;
  if (recording) {
    record.finished_at = iso8601_utc(machine.unix_time());
    record.runs = std::move(reports);
    const std::string reason = machine.replace_file(*line.export_json, result_record_text(record));
    if (!reason.empty()) {
      write_line(err, record_path_message(*line.export_json, reason));
      recorded = false;
    }
  }
  if (interrupted) {
    return SeriesEnd::interrupted;
  }
  if (!all_valid) {
    return SeriesEnd::invalid;
  }
  return recorded ? SeriesEnd::valid : SeriesEnd::not_recorded;
}

} // namespace velto
