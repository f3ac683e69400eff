// The series of runs and its record.
#include "app/series.hpp"

#include "bench/run_summary.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

namespace velto {

std::string record_path_message(const std::string& path, const std::string& reason) {
  return fmt::format("cannot write the result record to '{}': {}", path, reason);
}

SeriesOutcome run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                         TopologyCache& topology, std::ostream& out, std::ostream& err,
                         const DriverServices& services) {
  SeriesOutcome outcome;
  const bool recording = line.export_json.has_value();
  RecordInputs record;
  if (recording) {
    // A long run must not be lost to a typing error in the path.
    if (const std::string reason = services.check_record_path(*line.export_json); !reason.empty()) {
      write_line(err, record_path_message(*line.export_json, reason));
      outcome.refused = true;
      outcome.all_valid = false;
      return outcome;
    }
    record.build = live_build_facts();
    if (!arguments.empty()) {
      record.command_line.assign(arguments.begin() + 1, arguments.end());
    }
    record.config = line.config;
    record.runs_asked = line.runs;
    record.started_at = services.now();
    record.machine = services.probe_machine(topology);
    record.timers = services.probe_timers();
  }

  std::vector<ScoreReport> reports;
  reports.reserve(line.runs);
  for (std::uint32_t k = 0; k < line.runs; ++k) {
    reports.push_back(services.run_benchmark(line.config, topology, out, err));
    if (reports.back().interrupted()) {
      // Ctrl-C ends the whole series; the runs done go into the record.
      outcome.interrupted = true;
      break;
    }
  }
  if (line.runs > 1) {
    write_line(out, summary_line(summarize_runs(reports)));
  }
  outcome.all_valid = reports.size() == line.runs;
  for (const ScoreReport& report : reports) {
    outcome.all_valid = outcome.all_valid && report.valid;
  }

  if (recording) {
    record.finished_at = services.now();
    record.runs = std::move(reports);
    const std::string reason = services.write_record(*line.export_json, result_record_text(record));
    if (!reason.empty()) {
      write_line(err, record_path_message(*line.export_json, reason));
      outcome.recorded = false;
    }
  }
  return outcome;
}

} // namespace velto
