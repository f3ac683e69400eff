// The result record's JSON.
#include "record/result_record.hpp"

#include "benchmark/rate_samples.hpp"
#include "benchmark/run_summary.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

namespace velto {

namespace {

using json = nlohmann::ordered_json;

json timer_json(const TimerInfo& info) {
  return {{"source", timer_source_name(info.source)},
          {"frequency_hz", info.frequency},
          {"report_frequency_hz", info.report_frequency}};
}

json topology_json(const Topology& topology) {
  json counts = {{"numa_nodes", 0},
                 {"llcs", 0},
                 {"cores", 0},
                 {"logical_processors", 0},
                 {"perf_levels", topology.perf_level_count}};
  std::uint64_t llcs = 0;
  std::uint64_t cores = 0;
  std::uint64_t logicals = 0;
  json nodes = json::array();
  for (const NumaNode& node : topology.nodes) {
    json node_llcs = json::array();
    for (const Llc& llc : node.llcs) {
      ++llcs;
      json llc_cores = json::array();
      for (const Core& core : llc.cores) {
        ++cores;
        json core_logicals = json::array();
        for (const LogicalProcessor& logical : core.logicals) {
          ++logicals;
          core_logicals.push_back(
              {{"idx", logical.idx}, {"os", logical.os}, {"group", logical.group}});
        }
        llc_cores.push_back(
            {{"id", core.id}, {"perf_level", core.perf_level}, {"logicals", core_logicals}});
      }
      node_llcs.push_back({{"id", llc.id}, {"cores", llc_cores}});
    }
    nodes.push_back({{"id", node.id}, {"llcs", node_llcs}});
  }
  counts["numa_nodes"] = topology.nodes.size();
  counts["llcs"] = llcs;
  counts["cores"] = cores;
  counts["logical_processors"] = logicals;
  counts["nodes"] = nodes;
  return counts;
}

json optional_json(const std::optional<double>& value) {
  return value ? json(*value) : json(nullptr);
}

json thread_json(const ThreadScore& thread, const PlacementPlan& plan) {
  const ThreadResult& r = thread.result;
  json logical = nullptr;
  if (r.thread_index < plan.size()) {
    logical = plan[r.thread_index].os;
  }
  return {{"index", r.thread_index},
          {"logical_processor", logical},
          {"iterations", r.iterations},
          {"updates", r.updates},
          {"fast_us", r.fast_us},
          {"coarse_ms", r.coarse_ms},
          {"rate_mgups", thread.rate},
          // The same whole milliseconds the validity check compares.
          {"timer_drift_ms", r.fast_us / 1000 - r.coarse_ms}};
}

json run_json(const ScoreReport& report) {
  json reasons = json::array();
  json messages = json::array();
  for (const RunProblem& problem : report.verdict.reasons()) {
    const std::string_view code = name_of_choice(run_issue_table, problem.issue);
    if (std::find(reasons.begin(), reasons.end(), code) == reasons.end()) {
      reasons.push_back(code);
    }
    messages.push_back(problem.message);
  }
  json threads = json::array();
  for (const ThreadScore& thread : report.threads) {
    threads.push_back(thread_json(thread, report.facts.plan));
  }
  const RunFacts& facts = report.facts;
  json samples = json::array();
  for (const RateSample& sample : facts.samples) {
    samples.push_back({{"t_s", sample.t_s},
                       {"rate_mgups", sample.rate_mgups},
                       {"iterations", sample.iterations}});
  }
  const std::optional<double> throttle = throttle_percent(facts.samples, facts.duration);
  const Verdict& verdict = report.verdict;
  return {{"valid", verdict.valid()},
          {"reasons", reasons},
          {"messages", messages},
          {"threads_used", facts.threads},
          {"duration_s", facts.duration},
          {"init_ms", facts.init_ms >= 0 ? json(facts.init_ms) : json(nullptr)},
          {"score_mgups", verdict.valid() ? json(verdict.score()) : json(nullptr)},
          {"threads", threads},
          {"samples", samples},
          {"other_cpu_share", facts.other_cpu_share ? json(*facts.other_cpu_share) : json(nullptr)},
          {"throttle_pct", throttle ? json(*throttle) : json(nullptr)},
          {"roofline_mgups", optional_json(report.roofline_mgups)},
          {"roofline_pct", verdict.valid() && report.roofline_mgups
                               ? json(verdict.score() / *report.roofline_mgups * 100.0)
                               : json(nullptr)}};
}

json roofline_json(const std::vector<BandwidthMeasurement>& measurements) {
  json entries = json::array();
  for (const BandwidthMeasurement& m : measurements) {
    entries.push_back({{"threads", m.threads},
                       {"threading", name_of_choice(threading_table, m.threading)},
                       {"working_set_bytes", m.working_set_bytes},
                       {"bandwidth_gb_s", m.bandwidth_gb_s},
                       {"roofline_mgups", m.roofline_mgups},
                       {"duration_s", m.duration_s}});
  }
  return {{"bytes_per_update", bytes_per_update},
          {"repeats", probe_repeats},
          {"measurements", entries}};
}

json scaling_json(const RecordInputs::Scaling& scaling) {
  json points = json::array();
  for (const ScalingPoint& p : scaling.points) {
    points.push_back({{"threads", p.threads},
                      {"runs", p.runs},
                      {"valid_runs", p.valid_runs},
                      {"median_mgups", optional_json(p.median_mgups)},
                      {"speedup", optional_json(p.speedup)},
                      {"efficiency_pct", optional_json(p.efficiency_pct)},
                      {"roofline_mgups", optional_json(p.roofline_mgups)},
                      {"roofline_pct", optional_json(p.roofline_pct)}});
  }
  return {{"thread_counts", scaling.thread_counts}, {"points", points}};
}

json summary_json(const std::vector<ScoreReport>& runs) {
  const RunSummary s = summarize_runs(runs);
  const auto figure = [&](double value) { return s.valid_runs > 0 ? json(value) : json(nullptr); };
  return {{"runs", s.runs},
          {"valid_runs", s.valid_runs},
          {"median_mgups", figure(s.median)},
          {"min_mgups", figure(s.min)},
          {"max_mgups", figure(s.max)},
          {"mean_mgups", figure(s.mean)},
          {"stddev_mgups", s.valid_runs >= 2 ? json(s.stddev) : json(nullptr)},
          {"spread_pct", figure(s.spread)}};
}

std::string hash_text(std::uint64_t hash) {
  return fmt::format("{:#018x}", hash);
}

json processor_json(const StressProcessor& processor) {
  return {{"processor", processor.logical.os},
          {"group", processor.logical.group},
          {"core", processor.logical.core},
          {"node", processor.node}};
}

json known_answers_json(const StressPlan& plan) {
  json answers = json::array();
  for (const KnownAnswer& answer : plan.segments) {
    answers.push_back({{"workload", name_of_choice(workload_table, answer.workload)},
                       {"grid_size", answer.grid_size},
                       {"steps", answer.steps},
                       {"hash", hash_text(answer.hash)}});
  }
  return answers;
}

/// The workloads of the plan's segments, each once, in the order they first come.
json stress_workloads_json(const StressPlan& plan) {
  json workloads = json::array();
  for (const KnownAnswer& answer : plan.segments) {
    const std::string_view name = name_of_choice(workload_table, answer.workload);
    if (std::find(workloads.begin(), workloads.end(), name) == workloads.end()) {
      workloads.push_back(name);
    }
  }
  return workloads;
}

StressErrorKind stress_error_kind(const StressError& error) {
  return error.expected_hash ? StressErrorKind::hash : StressErrorKind::check;
}

json stress_error_json(const StressError& e, const StressPlan& plan) {
  const StressErrorKind kind = stress_error_kind(e);
  const bool hash = kind == StressErrorKind::hash;
  json error = {{"t_s", e.t_s}};
  error.update(processor_json(plan.walk[e.processor]));
  error.update(json{{"thread", e.thread},
                    {"workload", name_of_choice(workload_table, e.workload)},
                    {"grid_size", e.grid_size},
                    {"segment", e.segment},
                    {"kind", name_of_choice(stress_error_kind_table, kind)},
                    {"expected_hash", hash ? json(hash_text(*e.expected_hash)) : json(nullptr)},
                    {"found_hash", e.found_hash ? json(hash_text(*e.found_hash)) : json(nullptr)},
                    {"message", hash ? json(nullptr) : json(e.message)}});
  return error;
}

json stress_errors_json(const StressTally& tally, const StressPlan& plan) {
  json errors = json::array();
  for (const StressError& e : tally.errors) {
    errors.push_back(stress_error_json(e, plan));
  }
  return errors;
}

/// A processor's median rate by workload, then by grid size as text, for
/// each kind of segment it has one for.
json median_rates_json(const StressPlan& plan, const ProcessorRates& rates) {
  json medians = json::object();
  for (std::size_t k = 0; k < plan.segments.size(); ++k) {
    const KnownAnswer& kind = plan.segments[k];
    if (rates.median[k]) {
      const std::string workload(name_of_choice(workload_table, kind.workload));
      medians[workload][fmt::format("{}", kind.grid_size)] = *rates.median[k];
    }
  }
  return medians;
}

/// The kinds of segment a processor is slow at.
json slow_kinds_json(const StressPlan& plan, const ProcessorRates& rates) {
  json slow = json::array();
  for (std::size_t k = 0; k < plan.segments.size(); ++k) {
    const KnownAnswer& kind = plan.segments[k];
    if (rates.slow[k]) {
      slow.push_back({{"workload", name_of_choice(workload_table, kind.workload)},
                      {"grid_size", kind.grid_size}});
    }
  }
  return slow;
}

json series_json(const std::vector<SegmentPoint>& series) {
  json points = json::array();
  for (const SegmentPoint& point : series) {
    points.push_back({{"t_s", point.t_s},
                      {"workload", name_of_choice(workload_table, point.workload)},
                      {"grid_size", point.grid_size},
                      {"rate_mgups", point.rate_mgups},
                      {"ok", point.ok}});
  }
  return points;
}

json stress_processor_json(const StressPlan& plan, std::size_t i, const ProcessorTally& t,
                           const ProcessorRates& rates) {
  json row = processor_json(plan.walk[i]);
  row.update(json{{"perf_level", plan.walk[i].perf_level},
                  {"segments", t.segments},
                  {"errors", t.errors},
                  {"median_mgups", median_rates_json(plan, rates)},
                  {"slow", slow_kinds_json(plan, rates)},
                  {"first_error_s", t.first_error_s ? json(*t.first_error_s) : json(nullptr)},
                  {"series", series_json(t.series)}});
  return row;
}

json stress_processors_json(const StressPlan& plan, const StressTally& tally) {
  const std::vector<ProcessorRates> rates = processor_rates(plan, tally);
  json processors = json::array();
  for (std::size_t i = 0; i < plan.walk.size(); ++i) {
    processors.push_back(stress_processor_json(plan, i, tally.processors[i], rates[i]));
  }
  return processors;
}

json stress_json(const StressOutcome& outcome) {
  const StressParameters& p = outcome.parameters;
  const StressTally& tally = outcome.tally;
  return {{"minutes", p.request.minutes},
          {"load", name_of_choice(stress_load_table, p.request.load)},
          {"dwell_s", p.request.dwell_s},
          {"stop_on_error", p.request.stop_on_error},
          {"seed", p.seed},
          {"threads", p.plan.threads},
          {"grid_sizes", p.plan.grid_sizes},
          {"workloads", stress_workloads_json(p.plan)},
          {"known_answers", known_answers_json(p.plan)},
          {"end", name_of_choice(stress_end_table, outcome.end)},
          {"elapsed_s", tally.elapsed_s},
          {"segments", tally.segments},
          {"error_count", tally.error_count},
          {"errors", stress_errors_json(tally, p.plan)},
          {"processors", stress_processors_json(p.plan, tally)}};
}

json velto_json(const BuildFacts& build) {
  return {{"version", build.version},
          {"os", build.os},
          {"arch", build.arch},
          {"compiler", {{"id", build.compiler_id}, {"version", build.compiler_version}}}};
}

json config_json(const RecordInputs& in) {
  const RunConfig& c = in.config;
  return {{"threads", c.thread_count},
          {"duration_s", c.duration},
          {"grid_size", c.grid_size},
          {"workload", name_of_choice(workload_table, c.workload)},
          {"threading", name_of_choice(threading_table, c.threading)},
          {"large_pages", c.large_pages},
          {"bypass_timer_check", c.bypass_timer_check},
          {"runs", in.runs_asked},
          {"roofline", in.roofline_asked},
          {"scaling", in.scaling_asked}};
}

/// A byte count the machine told, or null for 0 (unknown).
json known_bytes_json(std::uint64_t bytes) {
  return bytes != 0 ? json(bytes) : json(nullptr);
}

json machine_json(const MachineFacts& m) {
  return {{"brand", m.cpu.brand},
          {"vendor", name_of_choice(cpu_vendor_table, m.cpu.vendor)},
          {"family", m.cpu.family},
          {"model", m.cpu.model},
          {"features", m.features},
          {"topology", topology_json(m.topology)},
          {"memory",
           {{"total_bytes", known_bytes_json(m.total_memory_bytes)},
            {"available_bytes", known_bytes_json(m.available_memory_bytes)}}},
          {"os_name", m.os_name},
          {"os_version", m.os_version}};
}

json timers_json(const TimerFacts& timers, bool bypass_asked) {
  return {{"fast", timer_json(timers.fast)},
          {"coarse", timer_json(timers.coarse)},
          {"compliant", timers.compliant},
          {"bypassed", !timers.compliant && bypass_asked}};
}

/// A benchmark record's runs, their summary and, for a scaling series, its
/// points, in that order.
void add_benchmark_results(json& record, const RecordInputs& in) {
  json runs = json::array();
  for (const ScoreReport& report : in.runs) {
    runs.push_back(run_json(report));
  }
  record["runs"] = runs;
  // A scaling series is summed up by its largest count that ran: the
  // machine's score, comparable with a record of plain runs.
  if (in.scaling && !in.scaling->points.empty()) {
    const std::size_t last = std::min<std::size_t>(in.scaling->points.back().runs, in.runs.size());
    record["summary"] =
        summary_json({in.runs.end() - static_cast<std::ptrdiff_t>(last), in.runs.end()});
    record["scaling"] = scaling_json(*in.scaling);
  } else {
    record["summary"] = summary_json(in.runs);
  }
}

} // namespace

std::string result_record_text(const RecordInputs& in) {
  const RecordKind kind = in.stress ? RecordKind::stress : RecordKind::benchmark;
  // Insertion order is the document's order: name and version first.
  json record;
  record["schema"] = record_schema_name;
  record["schema_version"] = record_schema_version;
  record["kind"] = name_of_choice(record_kind_table, kind);
  record["velto"] = velto_json(in.build);
  record["command_line"] = in.command_line;
  record["started_at"] = in.started_at;
  record["finished_at"] = in.finished_at;
  record["config"] = config_json(in);
  record["machine"] = machine_json(in.machine);
  record["timers"] = timers_json(in.timers, in.config.bypass_timer_check);
  if (kind == RecordKind::stress) {
    record["stress"] = stress_json(*in.stress);
  } else {
    if (in.roofline_asked) {
      record["roofline"] = roofline_json(in.rooflines);
    }
    add_benchmark_results(record, in);
  }
  // Invalid UTF-8 in a brand string or an argument is replaced, never fatal.
  return record.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string iso8601_utc(std::int64_t unix_seconds) {
  using namespace std::chrono;
  const sys_seconds time{seconds{unix_seconds}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     clock.hours().count(), clock.minutes().count(), clock.seconds().count());
}

} // namespace velto
