// The main flow of one invocation. Only code that is the same on every OS.
#include "app/driver.hpp"

#include "app/benchmark_series.hpp"
#include "app/console.hpp"
#include "app/options.hpp"
#include "app/printouts.hpp"
#include "app/stress_invocation.hpp"
#include "engine/build_facts.hpp"
#include "engine/machine_facts.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <istream>
#include <new>
#include <optional>
#include <ostream>

namespace velto {

namespace {

// The one action of a line that asks for no run: the fish, the version, the
// help, the topology or the timer printout; and the refusal of a size or
// workload that is not offered. Nothing when the line asks for a run.
std::optional<int> run_printout(const CommandLine& line, TopologyCache& topology,
                                const Machine& machine, std::ostream& out, std::ostream& err) {
  const RunConfig& config = line.config;
  // The fish plays whatever the size and workload say.
  if (line.fish) {
    CursorState cursor;
    show_fish(cursor, machine.terminal(), out);
    return 0;
  }
  // A stability test has its own sizes; the plan refuses any other.
  if (!line.stress_minutes &&
      std::find(grid_sizes.begin(), grid_sizes.end(), config.grid_size) == grid_sizes.end()) {
    write_line(err, fmt::format("Invalid size '{}', must be one of: {}", config.grid_size,
                                grid_sizes_text()));
    return 1;
  }
  if (line.unknown_workload) {
    write_line(err, fmt::format("Invalid workload name '{}', must be one of: {}",
                                *line.unknown_workload, workload_names_text()));
    return 1;
  }
  if (line.version) {
    write_line(out, version_line(live_build_facts()));
    return 0;
  }
  if (line.help) {
    write_line(out, line.usage);
    print_memory_table(out);
    return 0;
  }
  if (line.topology) {
    print_topology(get_topology(topology, machine), out);
    out.flush();
    return 0;
  }
  if (line.timers) {
    print_timer_report(probe_timer_facts(machine), out);
    return 0;
  }
  if (const std::string limit = grid_size_limit_message(config.grid_size); !limit.empty()) {
    write_line(err, limit);
    return 1;
  }
  return std::nullopt;
}

int run_invocation(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, const Machine& machine, const WorkloadFactory& workloads) {
  TopologyCache topology;
  const CommandLine line = parse_command_line(arguments);
  if (!line.error.empty()) {
    write_line(err, line.error);
    return 1;
  }
  if (const std::optional<int> status = run_printout(line, topology, machine, out, err)) {
    return *status;
  }
  const SeriesEnd series =
      line.stress_minutes ? run_stress_test(line, arguments, topology, machine, workloads, out, err)
                          : run_series(line, arguments, topology, machine, workloads, out, err);
  // Refused before anything ran, or asked to stop: no prompt, no wait.
  if (waits_for_enter(series) && !line.no_prompt) {
    write_line(out, "press enter to exit");
    in.get(); // returns on Enter, on any other character, and at end of input
  }
  return exit_status(series);
}

// `status`, unless a write to either stream failed (a full disk, a closed
// descriptor, a pipe whose reader is gone): then 1, and the error stream, while
// it still works, says so for standard output.
int checked_status(int status, std::ostream& out, std::ostream& err) noexcept {
  try {
    out.flush();
    const bool out_failed = out.fail();
    if (out_failed && !err.fail()) {
      write_line(err, "could not write to standard output");
    }
    err.flush();
    if (out_failed || err.fail()) {
      return 1;
    }
  } catch (...) {
    return 1; // a stream set to throw on failure
  }
  return status;
}

} // namespace

int velto_main(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err, const Machine& machine, const WorkloadFactory& workloads) {
  int status = 1;
  // Whatever escapes the layers below (memory for the parser or a printout,
  // a thread or lock the library could not make) ends here with a message
  // instead of std::terminate.
  try {
    status = run_invocation(arguments, in, out, err, machine, workloads);
  } catch (const std::bad_alloc&) {
    write_fatal_error(err, "out of memory");
  } catch (const std::exception& error) {
    write_fatal_error(err, error.what());
  } catch (...) {
    write_fatal_error(err, "unknown error");
  }
  return checked_status(status, out, err);
}

void write_fatal_error(std::ostream& err, std::string_view what) noexcept {
  try {
    write_line(err, fmt::format("fatal error: {}; aborting", what));
  } catch (...) {
    // Nothing is left to say it with.
  }
}

} // namespace velto
