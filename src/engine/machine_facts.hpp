// What a run and its record say about the machine and its timers, probed
// through the Machine: the processor, topology, memory and OS, and the two
// timers with their compliance verdict.
#pragma once

#include "platform/cpu.hpp"
#include "platform/machine.hpp"
#include "platform/timers.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The machine as it was when the invocation started.
struct MachineFacts {
  CpuIdentity cpu;
  std::vector<std::string> features; ///< the extensions the run header lists, in its order
  Topology topology;
  std::uint64_t total_memory_bytes = 0;     ///< 0 when unknown
  std::uint64_t available_memory_bytes = 0; ///< 0 when unknown
  std::string os_name;
  std::string os_version;
};

/// The two timers, the time-stamp counter and the processor they are judged
/// on, and the compliance verdict: what the timer printout shows and the
/// record keeps.
struct TimerFacts {
  TimerInfo fast;
  TimerInfo coarse;
  TscInfo tsc;
  CpuIdentity cpu;
  bool compliant = false;
};

/// What to do about a fast timer that breaks the rules, as the run's abort and
/// the timer printout say it.
inline constexpr std::string_view timer_bypass_advice =
    "Use --bypass-timer-check to run regardless if you are sure that this is a detection error "
    "in terms of your windows version, processor, or timer";

/// Whether a measured run must not start on `fast`: it breaks the rules and
/// the check was not bypassed.
bool timer_refused(const Machine& machine, const TimerInfo& fast, bool bypass);

/// The frequency a timer is shown with: its report frequency when it has one,
/// else its frequency; 0 for a frequency that is not positive.
std::uint64_t shown_frequency(const TimerInfo& info);

/// The words of a space-separated feature list, in order.
std::vector<std::string> split_feature_list(std::string_view list);

/// `machine`'s processor, topology (through `topology`), memory and OS.
MachineFacts probe_machine_facts(const Machine& machine, TopologyCache& topology);

/// `machine`'s timers, time-stamp counter, processor and compliance verdict.
TimerFacts probe_timer_facts(const Machine& machine);

} // namespace velto
