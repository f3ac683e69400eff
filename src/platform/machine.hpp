// What a run reads from the machine and asks of it: the two clocks, CPUID,
// memory, processor time, the topology, threads and pinning, files, the time
// of day and the console. One interface, so that a test can script any of it
// (a fast timer that disagrees, a coarse timer that stalls, a thread that
// cannot start) instead of waiting for the real machine to do it.
#pragma once

#include "platform/cpu.hpp"
#include "platform/cpu_load.hpp"
#include "platform/system_info.hpp"
#include "platform/terminal.hpp"
#include "platform/timers.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace velto {

class Machine {
public:
  virtual ~Machine() = default;

  /// The fast (high-resolution) counter now.
  virtual std::int64_t read_fast_timer() const = 0;
  /// The coarse tick count now, in milliseconds.
  virtual std::uint64_t read_coarse_timer() const = 0;
  /// The fast timer's description with its source classified.
  virtual TimerInfo fast_timer_info() const = 0;
  /// The coarse timer's description (frequency 1000).
  virtual TimerInfo coarse_timer_info() const = 0;
  /// Whether the fast timer `info` describes meets the HWBOT timer rules here.
  virtual bool is_timer_compliant(const TimerInfo& info) const = 0;

  /// Where CPUID and XGETBV values come from.
  virtual const CpuidSource& cpuid() const = 0;
  /// Bytes of physical memory available now, as the field ledger will measure
  /// the next run's fields against them; 0 when unknown.
  virtual std::uint64_t available_memory() const = 0;
  /// The OS's name and version and the installed memory; empty or 0 when unknown.
  virtual SystemInfo system_info() const = 0;
  /// The machine's and this process's processor time; `known` false when unknown.
  virtual CpuTimes read_cpu_times() const = 0;
  /// The topology restricted to the allowed processors; empty when the query fails.
  virtual Topology detect_topology() const = 0;
  /// The logical processors the process may use, for a machine without a topology.
  virtual std::uint32_t logical_processor_count() const = 0;

  /// Starts a thread running `body`; throws std::system_error when it cannot.
  virtual std::thread start_thread(std::function<void()> body) const = 0;
  /// Pins the calling thread to `processor`. Not reported: on failure the
  /// thread keeps its previous affinity.
  virtual void pin_current_thread(const LogicalProcessor& processor) const = 0;

  /// Why `path` cannot be created or replaced; empty when it can.
  virtual std::string check_writable_file(const std::string& path) const = 0;
  /// Writes `content` to `path` whole or not at all; empty on success, else the reason.
  virtual std::string replace_file(const std::string& path, std::string_view content) const = 0;
  /// Seconds since 1970-01-01 UTC.
  virtual std::int64_t unix_time() const = 0;
  /// Suspends the calling thread for about `milliseconds`.
  virtual void sleep_milliseconds(std::uint32_t milliseconds) const = 0;
  /// The console behind standard output.
  virtual Terminal& terminal() const = 0;
};

/// The machine this runs on.
const Machine& live_machine();

/// The held tree, detected through `machine` and stored first when the holder is empty.
const Topology& get_topology(TopologyCache& cache, const Machine& machine);

} // namespace velto
