// The probes behind the timer printout, the run header and the record.
#include "engine/machine_facts.hpp"

#include "platform/timer_rules.hpp"

#include <algorithm>

namespace velto {

bool timer_refused(const Machine& machine, const TimerInfo& fast, bool bypass) {
  return !bypass && !machine.is_timer_compliant(fast);
}

std::uint64_t shown_frequency(const TimerInfo& info) {
  const std::int64_t hz = info.report_frequency != 0 ? info.report_frequency : info.frequency;
  return hz > 0 ? static_cast<std::uint64_t>(hz) : 0;
}

std::vector<std::string> split_feature_list(std::string_view list) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = std::min(list.find(' ', start), list.size());
    if (end > start) {
      words.emplace_back(list.substr(start, end - start));
    }
    start = end + 1;
  }
  return words;
}

MachineFacts probe_machine_facts(const Machine& machine, TopologyCache& topology) {
  MachineFacts facts;
  facts.cpu = identify_cpu(machine.cpuid());
  facts.features = split_feature_list(isa_feature_list(detect_isa_features(machine.cpuid())));
  facts.topology = get_topology(topology, machine);
  const SystemInfo system = machine.system_info();
  facts.total_memory_bytes = system.total_memory_bytes;
  facts.available_memory_bytes = machine.available_memory();
  facts.os_name = system.os_name;
  facts.os_version = system.os_version;
  return facts;
}

TimerFacts probe_timer_facts(const Machine& machine) {
  TimerFacts facts;
  facts.fast = machine.fast_timer_info();
  facts.coarse = machine.coarse_timer_info();
  facts.tsc = decode_tsc_info(machine.cpuid());
  facts.cpu = identify_cpu(machine.cpuid());
  facts.compliant = machine.is_timer_compliant(facts.fast);
  return facts;
}

} // namespace velto
