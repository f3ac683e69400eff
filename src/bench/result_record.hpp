// The result record: one JSON document that keeps an invocation's runs with
// the machine, the timers and the options they came from. Built from plain
// data, so that tests make records from recorded inputs; the live probes that
// fill that data are separate.
#pragma once

#include "bench/run_config.hpp"
#include "bench/run_records.hpp"
#include "platform/cpu.hpp"
#include "platform/timers.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The record's name and format version, its first two fields.
inline constexpr std::string_view record_schema_name = "velto-result";
inline constexpr int record_schema_version = 1;

/// The program that wrote the record.
struct BuildFacts {
  std::string version;
  std::string os;   ///< "windows" or "linux"
  std::string arch; ///< "x86" or "x86_64"
  std::string compiler_id;
  std::string compiler_version;
};

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

/// The two timers and the compliance verdict.
struct TimerFacts {
  TimerInfo fast;
  TimerInfo coarse;
  bool compliant = false;
};

/// Everything one record holds.
struct RecordInputs {
  BuildFacts build;
  std::vector<std::string> command_line; ///< the arguments as given, without the program
  std::string started_at;                ///< UTC, ISO 8601
  std::string finished_at;               ///< UTC, ISO 8601
  RunConfig config;                      ///< as asked, before clamping
  std::uint32_t runs_asked = 1;
  MachineFacts machine;
  TimerFacts timers;
  std::vector<ScoreReport> runs; ///< in the order they ran
};

/// The record as UTF-8 JSON text, indented, ending in a newline.
std::string result_record_text(const RecordInputs& inputs);

/// "2026-12-09T03:12:45Z" for `unix_seconds` seconds after 1970-01-01 UTC.
std::string iso8601_utc(std::int64_t unix_seconds);

/// The words of a space-separated feature list, in order.
std::vector<std::string> split_feature_list(std::string_view list);

/// This program's build facts.
BuildFacts live_build_facts();

/// "velto 1.2.0 (windows x86, GCC 12)": the line --version prints. The compiler's
/// release is the leading "major.minor" of its version text, as much of it as
/// the text has ("12.2.0" gives 12.2, "12-posix" gives 12).
std::string version_line(const BuildFacts& build);
/// This machine's processor, topology (through `topology`), memory and OS.
MachineFacts probe_machine_facts(TopologyCache& topology);
/// This machine's timers and their compliance verdict.
TimerFacts probe_timer_facts();
/// The current time as iso8601_utc renders it.
std::string utc_now();

} // namespace velto
