// The main flow of one invocation. Only code that is the same on every OS.
#include "app/driver.hpp"

#include "app/console.hpp"
#include "app/options.hpp"
#include "app/series.hpp"
#include "bench/coordinator.hpp"
#include "platform/format.hpp"
#include "platform/output.hpp"
#include "solver/field.hpp"
#include "solver/workload.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <istream>
#include <new>
#include <ostream>

namespace velto {

DriverServices live_driver_services() {
  DriverServices services;
  services.show_fish = [] { show_fish(); };
  services.run_benchmark = [](RunConfig config, TopologyCache& topology, std::ostream& out,
                              std::ostream& err) {
    return run_benchmark(std::move(config), topology, out, err);
  };
  return services;
}

void print_memory_table(std::ostream& out) {
  write_line(out, fmt::format("{:<12}    {:>10}", "field size", "memory used per thread"));
  for (std::uint64_t size : grid_sizes) {
    write_line(out, fmt::format("  {:<12}    {:>12}", size, format_bytes(memory_per_thread(size))));
  }
}

TimerReport probe_timer_report() {
  TimerReport report;
  report.fast = fast_timer_info();
  report.coarse = coarse_timer_info();
  report.tsc = query_tsc_info();
  report.cpu = identify_cpu();
  report.compliant = is_timer_compliant(report.fast);
  return report;
}

void print_timer_report(const TimerReport& r, std::ostream& out) {
  const auto hz = [](std::int64_t value) {
    return format_quantity(static_cast<std::uint64_t>(value), "Hz");
  };
  write_line(out, fmt::format("Fast timer: {}", timer_source_name(r.fast.source)));
  write_line(out, "underlying frequency: " + hz(r.fast.report_frequency));
  write_line(out, "report frequency: " + hz(r.fast.frequency));
  write_line(out, "Coarse timer: ");
  write_line(out, "underlying frequency: " + hz(r.coarse.report_frequency));
  write_line(out, "report frequency: " + hz(r.coarse.frequency));
  write_line(out, "");
  write_line(out, "tsc info:");
  write_line(out, "tsc: " + format_quantity(r.tsc.tsc_frequency, "Hz"));
  write_line(out, "crystal: " + format_quantity(r.tsc.crystal_frequency, "Hz"));
  write_line(out, fmt::format("invariant: {}", r.tsc.invariant));
  write_line(out, "");
  write_line(out, r.cpu.brand);
  switch (r.cpu.vendor) {
  case CpuVendor::intel:
    write_line(out, "Intel detected");
    break;
  case CpuVendor::amd:
    write_line(out, "AMD detected");
    break;
  default:
    write_line(out, "unknown vendor");
    break;
  }
  write_line(out, fmt::format("detected family: {:x} model: {:x}", r.cpu.family, r.cpu.model));
  write_line(out, "");
  if (r.compliant) {
    write_line(out, "Fast timer is hwbot compliant");
  } else {
    write_line(out, "Fast timer is not compliant with HWBOT rules");
    write_line(out, "Use --bypass-timer-check to run regardless if you are sure that this is a "
                    "detection error in terms of your windows version, processor, or timer");
  }
}

std::string grid_size_limit_message(std::uint64_t grid_size, std::uint64_t size_max) {
  switch (check_grid_size(grid_size, size_max)) {
  case GridSizeLimit::address_space:
    return fmt::format("grid size {} is too large for the address space", grid_size);
  case GridSizeLimit::memory_calculation:
    return fmt::format("grid size {} would overflow memory calculation", grid_size);
  case GridSizeLimit::slice_buffer:
    return fmt::format("grid size {} would overflow slice buffer", grid_size);
  case GridSizeLimit::ok:
    break;
  }
  return {};
}

namespace {

int run_invocation(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, const DriverServices& services) {
  TopologyCache topology;
  const CommandLine line = parse_command_line(arguments);
  if (!line.error.empty()) {
    write_line(err, line.error);
    return 1;
  }
  const RunConfig& config = line.config;

  // The fish plays whatever the size and workload say.
  if (line.fish) {
    services.show_fish();
    return 0;
  }
  if (std::find(grid_sizes.begin(), grid_sizes.end(), config.grid_size) == grid_sizes.end()) {
    write_line(err, fmt::format("Invalid size '{}', must be one of: {}", config.grid_size,
                                grid_sizes_text()));
    return 1;
  }
  if (!make_workload(config.workload, 0)) {
    write_line(err, fmt::format("Invalid workload name '{}', must be one of: {}", config.workload,
                                workload_names_text()));
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
    print_topology(get_topology(topology), out);
    out.flush();
    return 0;
  }
  if (line.timers) {
    print_timer_report(probe_timer_report(), out);
    return 0;
  }
  if (const std::string limit = grid_size_limit_message(config.grid_size); !limit.empty()) {
    write_line(err, limit);
    return 1;
  }

  const SeriesOutcome series = run_series(line, arguments, topology, out, err, services);
  if (series.refused || series.interrupted) {
    return 1; // refused before anything ran, or asked to stop: no prompt, no wait
  }

  if (!line.no_prompt) {
    write_line(out, "press enter to exit");
    in.get(); // returns on Enter, on any other character, and at end of input
  }
  return series.all_valid && series.recorded ? 0 : 1;
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
               std::ostream& err, const DriverServices& services) {
  int status = 1;
  // Whatever escapes the layers below (memory for the parser or a printout,
  // a thread or lock the library could not make) ends here with a message
  // instead of std::terminate.
  try {
    status = run_invocation(arguments, in, out, err, services);
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
