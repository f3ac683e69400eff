// The stability test's invocation.
#include "app/stress_invocation.hpp"

#include "app/record_writing.hpp"
#include "platform/output.hpp"
#include "stress/stress_test.hpp"

#include <optional>
#include <variant>

namespace velto {

namespace {

// What the line asks of the test.
StressRequest stress_request(const CommandLine& line) {
  StressRequest request;
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
  return request;
}

// The test's parameters, or nothing when the line or the plan is refused
// (the refusal has been said on `err`).
std::optional<StressParameters> stress_parameters(const CommandLine& line, TopologyCache& topology,
                                                  const Machine& machine, std::ostream& err) {
  if (line.threading_given) {
    write_line(err, "--threading cannot be used with --stress: the stability test places its "
                    "own threads");
    return std::nullopt;
  }
  StressParameters parameters;
  parameters.request = stress_request(line);
  auto plan = make_stress_plan(parameters.request, get_topology(topology, machine),
                               machine.available_memory());
  if (const std::string* refusal = std::get_if<std::string>(&plan)) {
    write_line(err, *refusal);
    return std::nullopt;
  }
  parameters.plan = std::move(std::get<StressPlan>(plan));
  parameters.seed = mix_seed(static_cast<std::uint64_t>(machine.read_fast_timer()),
                             static_cast<std::uint64_t>(machine.unix_time()));
  parameters.large_pages = line.config.large_pages;
  return parameters;
}

} // namespace

SeriesEnd run_stress_test(const CommandLine& line, const std::vector<std::string>& arguments,
                          TopologyCache& topology, const Machine& machine,
                          const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  std::optional<StressParameters> parameters = stress_parameters(line, topology, machine, err);
  if (!parameters) {
    return SeriesEnd::refused;
  }

  const bool recording = line.export_json.has_value();
  RecordInputs record;
  if (recording && !open_record(line, arguments, topology, machine, record, err)) {
    return SeriesEnd::refused;
  }
  StressOutcome outcome = run_stress(std::move(*parameters), machine, workloads, out, err);
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
