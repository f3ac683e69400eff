// The command line: the option table, parsing into a RunConfig and the action
// flags, and the usage text.
#pragma once

#include "benchmark/run_config.hpp"
#include "stress/stress_plan.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The allowed grid sizes, in the order the help table lists them.
inline constexpr std::array<std::uint64_t, 14> grid_sizes = {64,  128, 192, 256,  320,  384,  448,
                                                             512, 640, 768, 1024, 2048, 4096, 8192};

/// "64, 128, … 8192": the sizes as the help and the size error list them.
std::string grid_sizes_text();

/// "standing_wave, soft_gaussian": the workload table's names.
std::string workload_names_text();

/// The fewest and the most runs of one invocation.
inline constexpr std::uint32_t min_runs = 1;
inline constexpr std::uint32_t max_runs = 100;

/// What one command line asks for.
struct CommandLine {
  RunConfig config;
  bool fish = false;                      ///< --velto
  bool help = false;                      ///< -?, -h, --help
  bool version = false;                   ///< --version
  bool topology = false;                  ///< --topo-debug
  bool timers = false;                    ///< --timer-debug
  std::uint32_t runs = 1;                 ///< --runs, 1..100
  std::optional<std::string> export_json; ///< --export-json
  /// A --workload name that is not in the workload table; refused after the size check.
  std::optional<std::string> unknown_workload;
  bool no_prompt = false; ///< --no-prompt
  /// --stress: a stability test of this many minutes instead of the benchmark.
  std::optional<std::uint32_t> stress_minutes;
  StressLoad stress_load = StressLoad::steady;       ///< --stress-load
  std::uint32_t stress_dwell = default_stress_dwell; ///< --stress-dwell, seconds
  bool stop_on_error = false;                        ///< --stop-on-error
  bool roofline = false;        ///< --roofline: the memory bandwidth beside each score
  bool scaling = false;         ///< --scaling: a series over thread counts
  bool size_given = false;      ///< -s was on the line
  bool workload_given = false;  ///< --workload was on the line
  bool threading_given = false; ///< --threading was on the line
  std::string usage;            ///< the usage text of the parser, for the help
  std::string error;            ///< the parser's message; empty when parsing succeeded
};

/// The executable's name: the text after the last "/" or "\".
std::string executable_name(std::string_view first_argument);

/// Parses the arguments (the first is the program's path; an empty list has no
/// name). Never throws; a failure leaves its message in `error`.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

} // namespace velto
