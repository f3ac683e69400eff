// The live machine: each read goes to the OS file of this build. Only code
// that is the same on every OS.
#include "platform/machine.hpp"

#include "platform/affinity.hpp"
#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"
#include "platform/record_file.hpp"

#include <chrono>

namespace velto {

namespace {

class LiveMachine final : public Machine {
public:
  std::int64_t read_fast_timer() const override { return velto::read_fast_timer(); }
  std::uint64_t read_coarse_timer() const override { return velto::read_coarse_timer(); }
  TimerInfo fast_timer_info() const override { return velto::fast_timer_info(); }
  TimerInfo coarse_timer_info() const override { return velto::coarse_timer_info(); }
  bool is_timer_compliant(const TimerInfo& info) const override {
    return velto::is_timer_compliant(info);
  }

  const CpuidSource& cpuid() const override { return live_cpuid_source(); }
  std::uint64_t available_memory() const override {
    // The ledger keeps the figure while it is empty, so what a run plans from
    // it is what the ledger then grants the run's fields.
    return process_memory_ledger().sample_available();
  }
  SystemInfo system_info() const override { return probe_system_info(); }
  CpuTimes read_cpu_times() const override { return velto::read_cpu_times(); }
  Topology detect_topology() const override { return velto::detect_topology(); }
  std::uint32_t logical_processor_count() const override {
    return velto::logical_processor_count();
  }

  std::thread start_thread(std::function<void()> body) const override {
    return std::thread(std::move(body));
  }
  void pin_current_thread(const LogicalProcessor& processor) const override {
    set_current_thread_affinity(processor.group, group_affinity_mask(processor.os));
  }

  std::string check_writable_file(const std::string& path) const override {
    return velto::check_writable_file(path);
  }
  std::string replace_file(const std::string& path, std::string_view content) const override {
    return velto::replace_file(path, content);
  }
  std::int64_t unix_time() const override {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(now).count();
  }
  void sleep_milliseconds(std::uint32_t milliseconds) const override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  Terminal& terminal() const override { return live_terminal(); }
};

} // namespace

const Machine& live_machine() {
  static const LiveMachine machine;
  return machine;
}

const Topology& get_topology(TopologyCache& cache, const Machine& machine) {
  if (!cache) {
    cache.emplace(machine.detect_topology());
  }
  return *cache;
}

} // namespace velto
