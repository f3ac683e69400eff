// The series of runs and its record.
#include "app/series.hpp"

#include "benchmark/coordinator.hpp"
#include "benchmark/run_summary.hpp"
#include "benchmark/scaling.hpp"
#include "engine/machine_facts.hpp"
#include "platform/output.hpp"
#include "probe/bandwidth_probe.hpp"
#include "record/result_record.hpp"
#include "stress/stress_test.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>
#include <optional>

namespace velto {

bool waits_for_enter(SeriesEnd end) {
  return end != SeriesEnd::refused && end != SeriesEnd::interrupted &&
         end != SeriesEnd::ended_by_user;
}

int exit_status(SeriesEnd end) {
  return end == SeriesEnd::valid || end == SeriesEnd::ended_by_user ? 0 : 1;
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
  record.roofline_asked = line.roofline;
  record.scaling_asked = line.scaling;
  record.started_at = iso8601_utc(machine.unix_time());
  record.machine = probe_machine_facts(machine, topology);
  record.timers = probe_timer_facts(machine);
  return record;
}

// Checks the record's path before anything is measured (a long run must not be
// lost to a typing error in it), then probes the record's opening; false, with
// the line that says why, when the path is refused.
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

// Writes `record`, finished now; false, with the line that says why, when the
// write failed.
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

} // namespace

namespace {

// The memory bandwidth for the threads and placement of `config`; nothing
// when its run will be refused for its fast timer anyway.
ProbeOutcome probe_roofline(const RunConfig& config, TopologyCache& topology,
                            const Machine& machine, std::ostream& out, std::ostream& err) {
  if (timer_refused(machine, machine.fast_timer_info(), config.bypass_timer_check)) {
    return {};
  }
  const RunParameters parameters = run_parameters(config, topology, machine);
  return measure_bandwidth(parameters.thread_plan, parameters.threading,
                           llc_total_bytes(get_topology(topology, machine), machine.cpuid()),
                           machine, out, err);
}

// The thread counts of the series: the line's own (0, the automatic one)
// or, with --scaling, the doubling series up to the automatic count.
std::vector<std::uint32_t> series_counts(const CommandLine& line, TopologyCache& topology,
                                         const Machine& machine) {
  if (!line.scaling) {
    return {line.config.thread_count};
  }
  // -n is refused with --scaling, so the line asks for the automatic count.
  return scaling_thread_counts(
      run_parameters(line.config, topology, machine).thread_plan.thread_count);
}

} // namespace

SeriesEnd run_series(const CommandLine& line, const std::vector<std::string>& arguments,
                     TopologyCache& topology, const Machine& machine,
                     const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  const bool recording = line.export_json.has_value();
  RecordInputs record;
  if (recording && !open_record(line, arguments, topology, machine, record, err)) {
    return SeriesEnd::refused;
  }

  const std::vector<std::uint32_t> counts = series_counts(line, topology, machine);
  std::vector<ScoreReport> reports;
  reports.reserve(static_cast<std::size_t>(line.runs) * counts.size());
  std::vector<ScalingPoint> points;
  bool interrupted = false;
  for (const std::uint32_t count : counts) {
    RunConfig config = line.config;
    config.thread_count = count;
    std::optional<BandwidthMeasurement> roofline;
    if (line.roofline) {
      const ProbeOutcome probe = probe_roofline(config, topology, machine, out, err);
      interrupted = probe.interrupted;
      roofline = probe.measurement;
      if (roofline) {
        record.rooflines.push_back(*roofline);
      }
    }
    std::vector<ScoreReport> runs;
    for (std::uint32_t k = 0; k < line.runs && !interrupted; ++k) {
      runs.push_back(run_benchmark(config, topology, machine, workloads, out, err));
      ScoreReport& report = runs.back();
      if (roofline) {
        report.roofline_mgups = roofline->roofline_mgups;
        if (report.verdict.valid()) {
          write_line(out, roofline_line(*roofline, report.verdict.score()));
        }
      }
      // Ctrl-C ends the whole series; the runs done go into the record.
      interrupted = report.verdict.interrupted();
    }
    if (runs.empty()) {
      break; // interrupted while the bandwidth was measured
    }
    if (line.runs > 1) {
      write_line(out, summary_line(summarize_runs(runs)));
    }
    if (line.scaling) {
      const std::optional<double> one_thread = points.empty() || points.front().threads != 1
                                                   ? std::nullopt
                                                   : points.front().median_mgups;
      points.push_back(scaling_point(
          count, runs, roofline ? std::optional(roofline->roofline_mgups) : std::nullopt,
          one_thread));
    }
    std::move(runs.begin(), runs.end(), std::back_inserter(reports));
    if (interrupted) {
      break;
    }
  }
  if (!points.empty()) {
    for (const std::string& text : scaling_table(points, line.runs, line.roofline)) {
      write_line(out, text);
    }
  }
  const bool all_valid = std::all_of(reports.begin(), reports.end(),
                                     [](const ScoreReport& r) { return r.verdict.valid(); });

  bool recorded = true;
  if (recording) {
    record.runs = std::move(reports);
    if (line.scaling) {
      record.scaling = RecordInputs::Scaling{counts, std::move(points)};
    }
    recorded = write_record(*line.export_json, record, machine, err);
  }
  if (interrupted) {
    return SeriesEnd::interrupted;
  }
  if (!all_valid) {
    return SeriesEnd::invalid;
  }
  return recorded ? SeriesEnd::valid : SeriesEnd::not_recorded;
}

SeriesEnd run_stress_test(const CommandLine& line, const std::vector<std::string>& arguments,
                          TopologyCache& topology, const Machine& machine, std::ostream& out,
                          std::ostream& err, const StressStepHook& after_step) {
  if (line.threading_given) {
    write_line(err, "--threading cannot be used with --stress: the stability test places its "
                    "own threads");
    return SeriesEnd::refused;
  }
  StressParameters parameters;
  StressRequest& request = parameters.request;
  request.minutes = *line.stress_minutes;
  request.load = line.stress_load;
  request.dwell_s = line.stress_dwell;
  request.stop_on_error = line.stop_on_error;
  request.thread_count = line.config.thread_count;
  if (line.size_given) {
    request.grid_size = line.config.grid_size;
  }
  if (line.workload_given) {
    request.workload = line.config.workload;
  }
  auto plan =
      make_stress_plan(request, get_topology(topology, machine), machine.available_memory());
  if (const std::string* refusal = std::get_if<std::string>(&plan)) {
    write_line(err, *refusal);
    return SeriesEnd::refused;
  }
  parameters.plan = std::move(std::get<StressPlan>(plan));
  parameters.seed = mix_seed(static_cast<std::uint64_t>(machine.read_fast_timer()),
                             static_cast<std::uint64_t>(machine.unix_time()));
  parameters.large_pages = line.config.large_pages;
  parameters.after_step = after_step;

  const bool recording = line.export_json.has_value();
  RecordInputs record;
  if (recording && !open_record(line, arguments, topology, machine, record, err)) {
    return SeriesEnd::refused;
  }
  StressOutcome outcome = run_stress(std::move(parameters), machine, out, err);
  const bool passed = stress_passed(outcome);
  const bool interrupted = outcome.end == StressEnd::interrupted;
  bool recorded = true;
  if (recording) {
    record.stress = std::move(outcome);
    recorded = write_record(*line.export_json, record, machine, err);
  }
  if (interrupted) {
    // Ctrl-C: no prompt; with no time asked for it is the test's normal end.
    return passed && recorded ? SeriesEnd::ended_by_user : SeriesEnd::interrupted;
  }
  if (!passed) {
    return SeriesEnd::invalid;
  }
  return recorded ? SeriesEnd::valid : SeriesEnd::not_recorded;
}

} // namespace velto
