// A machine for tests: clocks that run on readings instead of time, a
// recorded processor, chosen memory, topology and files, a thread starter and
// a terminal that can be told to fail, and a record of every pin.
#pragma once

#include "platform/machine.hpp"
#include "support/cpuid_fixtures.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velto::testing {

/// The console of a scripted machine: sleeps are counted, not slept.
class ScriptedTerminal final : public Terminal {
public:
  bool enable_virtual_terminal() override { return true; }
  std::optional<std::uint32_t> cursor_row() override { return std::nullopt; }
  void set_cursor_position(std::uint32_t, std::uint32_t) override {}
  void sleep_milliseconds(std::uint32_t milliseconds) override {
    if (fault) {
      fault();
    }
    slept_ms += milliseconds;
  }
  std::uint64_t slept_ms = 0;
  std::function<void()> fault; ///< called at every sleep: a test's way to throw from below
};

class ScriptedMachine final : public Machine {
public:
  // Each thread has its own time, in microseconds from its first reading, that
  // moves on by `coarse_step_us` at every coarse reading (the timed loop reads
  // it once per step): a run's length is a count of steps, not a wait, and no
  // thread's timing depends on how the others are scheduled.
  std::int64_t coarse_step_us = 5000;
  /// Both clocks follow the steady clock instead: for tests where a run's
  /// length must bound real time (a failure has to stop the other threads
  /// before they could finish).
  bool real_time = false;
  /// The fast timer's ticks per microsecond of that time, at 10 MHz: below
  /// 1.0 it falls behind the coarse timer (0.967 loses 33 ms a second).
  double fast_rate = 1.0;
  /// From this time of each thread on its coarse timer stands still for
  /// `coarse_stall_us`, then goes on that much behind.
  std::int64_t coarse_stall_from_us = 0;
  std::int64_t coarse_stall_us = 0;
  TimerInfo fast{10000000, 0, TimerSource::tsc};
  TimerInfo coarse{1000, 64, TimerSource::unknown};
  bool compliant = true;

  RecordedCpuidSource cpu{dev_machine_leaves(), kDevMachineXcr0};
  std::uint64_t available = 0; ///< 0: unknown
  SystemInfo system{"Scripted OS 1", "1.0", std::uint64_t{8} << 30};
  CpuTimes cpu_times{};
  Topology topology; ///< empty unless a test builds one
  std::uint32_t logicals = 2;
  /// Starts the run's threads; replaced to make one fail.
  std::function<std::thread(std::function<void()>)> starter = [](std::function<void()> body) {
    return std::thread(std::move(body));
  };

  /// Called at every check of a path: a test's way to throw from below.
  std::function<void()> file_check_fault;
  /// Why a path cannot be written, by path; others can.
  std::map<std::string, std::string> refused_paths;
  /// Why the write of a path fails, by path; others succeed into `files`.
  std::map<std::string, std::string> failing_writes;
  std::int64_t unix_seconds = 1765250000; ///< 2025-12-09T03:13:20Z

  std::int64_t read_fast_timer() const override {
    if (real_time) {
      return steady_us() * 10;
    }
    return static_cast<std::int64_t>(
        std::llround(static_cast<double>(thread_now()) * 10.0 * fast_rate));
  }
  std::uint64_t read_coarse_timer() const override {
    if (real_time) {
      return static_cast<std::uint64_t>(steady_us() / 1000);
    }
    const std::int64_t now = thread_now() += coarse_step_us;
    const std::int64_t stalled =
        std::clamp<std::int64_t>(now - coarse_stall_from_us, 0, coarse_stall_us);
    return static_cast<std::uint64_t>((now - stalled) / 1000);
  }
  TimerInfo fast_timer_info() const override { return fast; }
  TimerInfo coarse_timer_info() const override { return coarse; }
  bool is_timer_compliant(const TimerInfo&) const override { return compliant; }

  const CpuidSource& cpuid() const override { return cpu; }
  std::uint64_t available_memory() const override {
    ++memory_queries;
    return available;
  }
  SystemInfo system_info() const override { return system; }
  CpuTimes read_cpu_times() const override { return cpu_times; }
  Topology detect_topology() const override {
    ++topology_detections;
    return topology;
  }
  std::uint32_t logical_processor_count() const override { return logicals; }

  std::thread start_thread(std::function<void()> body) const override {
    return starter(std::move(body));
  }
  void pin_current_thread(const LogicalProcessor& processor) const override {
    pinned_here() = processor;
    const std::lock_guard lock(lock_);
    pins.push_back(processor);
  }
  /// The processor the calling thread was last pinned to.
  static std::optional<LogicalProcessor>& pinned_here() {
    thread_local std::optional<LogicalProcessor> processor;
    return processor;
  }

  std::string check_writable_file(const std::string& path) const override {
    if (file_check_fault) {
      file_check_fault();
    }
    const auto refused = refused_paths.find(path);
    return refused != refused_paths.end() ? refused->second : std::string();
  }
  std::string replace_file(const std::string& path, std::string_view content) const override {
    const auto failing = failing_writes.find(path);
    if (failing != failing_writes.end()) {
      return failing->second;
    }
    const std::lock_guard lock(lock_);
    files[path] = std::string(content);
    return {};
  }
  std::int64_t unix_time() const override { return unix_seconds; }
  /// A nap in the thread's own time; a real one when the clocks are real.
  void sleep_milliseconds(std::uint32_t milliseconds) const override {
    if (real_time) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    } else {
      thread_now() += static_cast<std::int64_t>(milliseconds) * 1000;
    }
  }
  Terminal& terminal() const override { return terminal_; }

  mutable std::vector<LogicalProcessor> pins;       ///< every pin, in order
  mutable std::map<std::string, std::string> files; ///< what was written, by path
  mutable std::atomic<int> topology_detections{0};
  mutable std::atomic<int> memory_queries{0}; ///< every run asks at least once
  mutable ScriptedTerminal terminal_;

private:
  static std::int64_t steady_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  std::int64_t& thread_now() const {
    thread_local std::map<std::uint64_t, std::int64_t> now;
    return now[serial_];
  }
  static std::uint64_t next_serial() {
    static std::atomic<std::uint64_t> serial{0};
    return ++serial;
  }
  const std::uint64_t serial_ = next_serial(); ///< keeps each machine's times apart
  mutable std::mutex lock_;
};

} // namespace velto::testing
