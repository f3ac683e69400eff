// The main flow: parse, validate, then exactly one action.
#pragma once

#include "bench/result_record.hpp"
#include "bench/run_config.hpp"
#include "bench/run_records.hpp"
#include "platform/cpu.hpp"
#include "platform/record_file.hpp"
#include "platform/timers.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The actions that reach the machine, replaceable in tests.
struct DriverServices {
  std::function<void()> show_fish; ///< plays on the process's standard output
  std::function<ScoreReport(RunConfig, TopologyCache&, std::ostream& out, std::ostream& err)>
      run_benchmark;
  /// Why the record's path cannot be written; empty when it can.
  std::function<std::string(const std::string& path)> check_record_path = check_writable_file;
  /// Writes the record whole or not at all; empty on success, else the reason.
  std::function<std::string(const std::string& path, std::string_view text)> write_record =
      replace_file;
  /// What the record says about the machine, the timers and the time.
  std::function<MachineFacts(TopologyCache&)> probe_machine = probe_machine_facts;
  std::function<TimerFacts()> probe_timers = probe_timer_facts;
  std::function<std::string()> now = utc_now;
};

/// The fish on the real console and the real benchmark.
DriverServices live_driver_services();

/// Runs one invocation: `arguments` as main received them (the first is the
/// program's path). Returns the exit status, 0 or 1; an exception from below
/// ends in write_fatal_error and 1. A write to `out` or `err` that failed makes
/// the status 1; for `out` the error stream then says "could not write to
/// standard output".
int velto_main(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err, const DriverServices& services = live_driver_services());

/// "fatal error: {what}; aborting" on `err`, for a failure nothing below the
/// entry point caught. Never throws.
void write_fatal_error(std::ostream& err, std::string_view what) noexcept;

/// The help after the usage text: the per-thread memory of every grid size.
void print_memory_table(std::ostream& out);

/// What the timer and processor report shows.
struct TimerReport {
  TimerInfo fast;
  TimerInfo coarse;
  TscInfo tsc;
  CpuIdentity cpu;
  bool compliant = false;
};

/// The live values of this machine.
TimerReport probe_timer_report();

/// The report, one line each.
void print_timer_report(const TimerReport& report, std::ostream& out);

/// The message of the first grid-size limit `grid_size` breaks for a size type
/// whose largest value is `size_max`; empty when it breaks none.
std::string grid_size_limit_message(std::uint64_t grid_size, std::uint64_t size_max = SIZE_MAX);

} // namespace velto
