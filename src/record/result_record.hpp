// The result record: one JSON document that keeps an invocation's runs with
// the machine, the timers and the options they came from. Built from plain
// data, so that tests make records from recorded inputs; the probes that fill
// that data are in machine_facts.hpp.
#pragma once

#include "benchmark/run_config.hpp"
#include "benchmark/run_records.hpp"
#include "benchmark/scaling.hpp"
#include "engine/build_facts.hpp"
#include "engine/machine_facts.hpp"
#include "platform/name_table.hpp"
#include "probe/bandwidth_probe.hpp"
#include "stress/stress_test.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The record's name and format version, its first two fields.
inline constexpr std::string_view record_schema_name = "velto-result";
/// Version 2 names the record's kind: a benchmark's runs or a stability test.
inline constexpr int record_schema_version = 2;

/// What a record keeps, its "kind": a benchmark's runs or a stability test.
enum class RecordKind : std::uint8_t { benchmark, stress };

inline constexpr NameTable<RecordKind, 2> record_kind_table = {{
    {RecordKind::benchmark, "benchmark"},
    {RecordKind::stress, "stress"},
}};

/// A stability test's error as the record names it: a hash that differed
/// from the known answer, or a check that failed.
enum class StressErrorKind : std::uint8_t { hash, check };

inline constexpr NameTable<StressErrorKind, 2> stress_error_kind_table = {{
    {StressErrorKind::hash, "hash"},
    {StressErrorKind::check, "check"},
}};

/// Everything one record holds.
struct RecordInputs {
  BuildFacts build;
  std::vector<std::string> command_line; ///< the arguments as given, without the program
  std::string started_at;                ///< UTC, ISO 8601
  std::string finished_at;               ///< UTC, ISO 8601
  RunConfig config;                      ///< as asked, before clamping
  std::uint32_t runs_asked = 1;
  bool roofline_asked = false; ///< --roofline
  bool scaling_asked = false;  ///< --scaling
  MachineFacts machine;
  TimerFacts timers;
  std::vector<ScoreReport> runs; ///< in the order they ran
  /// The memory bandwidth measured for each thread count, in the order measured.
  std::vector<BandwidthMeasurement> rooflines;
  /// A thread-scaling series: its planned counts and a point per count that ran.
  struct Scaling {
    std::vector<std::uint32_t> thread_counts;
    std::vector<ScalingPoint> points;
  };
  std::optional<Scaling> scaling;
  /// A stability test's outcome: the record is then of kind "stress", with
  /// no runs.
  std::optional<StressOutcome> stress;
};

/// The record as UTF-8 JSON text, indented, ending in a newline.
std::string result_record_text(const RecordInputs& inputs);

/// "2026-12-09T03:12:45Z" for `unix_seconds` seconds after 1970-01-01 UTC.
std::string iso8601_utc(std::int64_t unix_seconds);

} // namespace velto
