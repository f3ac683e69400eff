// The benchmark's invocation: the series of runs and its record.
#include "app/benchmark_series.hpp"

#include "app/record_writing.hpp"
#include "benchmark/coordinator.hpp"
#include "benchmark/run_summary.hpp"
#include "benchmark/scaling.hpp"
#include "engine/machine_facts.hpp"
#include "platform/output.hpp"
#include "probe/bandwidth_probe.hpp"

#include <algorithm>
#include <iterator>
#include <optional>

namespace velto {

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

// What the runs of a series have left so far.
struct SeriesState {
  std::vector<ScoreReport> reports;
  std::vector<ScalingPoint> points;
  std::vector<BandwidthMeasurement> rooflines;
  bool interrupted = false;
};

// The runs of one thread count, with its roofline when asked for; false when
// none ran (the probe was interrupted).
bool run_count(const CommandLine& line, std::uint32_t count, TopologyCache& topology,
               const Machine& machine, const WorkloadFactory& workloads, SeriesState& series,
               std::ostream& out, std::ostream& err) {
  RunConfig config = line.config;
  config.thread_count = count;
  std::optional<BandwidthMeasurement> roofline;
  if (line.roofline) {
    const ProbeOutcome probe = probe_roofline(config, topology, machine, out, err);
    series.interrupted = probe.interrupted;
    roofline = probe.measurement;
    if (roofline) {
      series.rooflines.push_back(*roofline);
    }
  }
  std::vector<ScoreReport> runs;
  for (std::uint32_t k = 0; k < line.runs && !series.interrupted; ++k) {
    runs.push_back(run_benchmark(config, topology, machine, workloads, out, err));
    ScoreReport& report = runs.back();
    if (roofline) {
      report.roofline_mgups = roofline->roofline_mgups;
      if (report.verdict.valid()) {
        write_line(out, roofline_line(*roofline, report.verdict.score()));
      }
    }
    // Ctrl-C ends the whole series; the runs done go into the record.
    series.interrupted = report.verdict.interrupted();
  }
  if (runs.empty()) {
    return false;
  }
  if (line.runs > 1) {
    write_line(out, summary_line(summarize_runs(runs)));
  }
  if (line.scaling) {
    const std::vector<ScalingPoint>& points = series.points;
    const std::optional<double> one_thread =
        points.empty() || points.front().threads != 1 ? std::nullopt : points.front().median_mgups;
    series.points.push_back(scaling_point(
        count, runs, roofline ? std::optional(roofline->roofline_mgups) : std::nullopt,
        one_thread));
  }
  std::move(runs.begin(), runs.end(), std::back_inserter(series.reports));
  return true;
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
  SeriesState series;
  series.reports.reserve(static_cast<std::size_t>(line.runs) * counts.size());
  for (const std::uint32_t count : counts) {
    if (!run_count(line, count, topology, machine, workloads, series, out, err) ||
        series.interrupted) {
      break;
    }
  }
  if (!series.points.empty()) {
    for (const std::string& text : scaling_table(series.points, line.runs, line.roofline)) {
      write_line(out, text);
    }
  }
  const bool all_valid = std::all_of(series.reports.begin(), series.reports.end(),
                                     [](const ScoreReport& r) { return r.verdict.valid(); });

  bool recorded = true;
  if (recording) {
    record.runs = std::move(series.reports);
    record.rooflines = std::move(series.rooflines);
    if (line.scaling) {
      record.scaling = RecordInputs::Scaling{counts, std::move(series.points)};
    }
    recorded = write_record(*line.export_json, record, machine, err);
  }
  if (series.interrupted) {
    return SeriesEnd::interrupted;
  }
  if (!all_valid) {
    return SeriesEnd::invalid;
  }
  return recorded ? SeriesEnd::valid : SeriesEnd::not_recorded;
}

} // namespace velto
