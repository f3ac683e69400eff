// The decisions of a stability test, from plain data: which segments its
// threads run, how many threads, the processors they walk, and the on/off
// schedule of the pulse load.
#pragma once

#include "platform/name_table.hpp"
#include "platform/topology.hpp"
#include "solver/known_answers.hpp"
#include "solver/workload.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velto {

/// How the load is laid on the processors.
enum class StressLoad : std::uint8_t {
  steady, ///< every thread works all the time
  cycle,  ///< one thread, moved to the next core every dwell
  pulse,  ///< every thread, the whole load switched on and off at random
};

inline constexpr NameTable<StressLoad, 3> stress_load_table = {{
    {StressLoad::steady, "steady"},
    {StressLoad::cycle, "cycle"},
    {StressLoad::pulse, "pulse"},
}};

/// The longest test, in minutes (a week); 0 runs until Ctrl-C.
inline constexpr std::uint32_t max_stress_minutes = 10080;
/// The dwell of the cycle load on each core, in seconds, and its bounds.
inline constexpr std::uint32_t default_stress_dwell = 10;
inline constexpr std::uint32_t min_stress_dwell = 1;
inline constexpr std::uint32_t max_stress_dwell = 3600;
/// The sizes a stability test runs by default: one in the caches, one
/// streaming from memory, and the one it falls back on when the second does
/// not fit for every thread.
inline constexpr std::uint64_t stress_cache_size = 64;
inline constexpr std::uint64_t stress_memory_size = 192;
inline constexpr std::uint64_t stress_fallback_size = 128;

/// What the command line asks of a stability test.
struct StressRequest {
  std::uint32_t minutes = 0;
  StressLoad load = StressLoad::steady;
  std::uint32_t dwell_s = default_stress_dwell;
  bool stop_on_error = false;
  std::optional<std::uint64_t> grid_size; ///< -s, when given
  std::optional<WorkloadKind> workload;   ///< --workload, when given
  std::uint32_t thread_count = 0;         ///< -n; 0 for every allowed processor
};

/// One logical processor a test's threads visit, with where it sits.
struct StressProcessor {
  LogicalProcessor logical;
  std::uint32_t node = 0;
  std::uint32_t perf_level = 0;
  friend bool operator==(const StressProcessor&, const StressProcessor&) = default;
};

struct StressPlan {
  std::uint32_t threads = 1;
  /// The kinds of segment a thread takes in turn: every workload at each size.
  std::vector<KnownAnswer> segments;
  std::vector<std::uint64_t> grid_sizes; ///< ascending
  /// The allowed processors in the order threads move through them: by
  /// performance level, then every core's first processor, then the second…
  std::vector<StressProcessor> walk;
};

/// The sizes that have known answers, ascending, each once.
std::vector<std::uint64_t> stress_grid_sizes();

/// "64, 128, 192, 256".
std::string stress_grid_sizes_text();

/// The plan for `request` on `topology` (already limited to the allowed
/// processors) with `available_memory` bytes (0 when unknown), or the line
/// that refuses it. Where the size type's largest value `size_max` is 32 bits
/// wide, the fields of all threads must also fit in about 3 GiB of address
/// space (tests pass the other width).
std::variant<StressPlan, std::string> make_stress_plan(const StressRequest& request,
                                                       const Topology& topology,
                                                       std::uint64_t available_memory,
                                                       std::uint64_t size_max = SIZE_MAX);

/// The on/off schedule of the pulse load: intervals of 50 ms to 2 s, drawn
/// one after another from a generator seeded with `seed`, the first one on.
/// The same seed gives the same schedule on every machine.
class PulseSchedule {
public:
  static constexpr std::int64_t shortest_ms = 50;
  static constexpr std::int64_t longest_ms = 2000;

  explicit PulseSchedule(std::uint64_t seed) : state_(seed) {}
  /// Whether the load is on at `t_ms` since the start. Times must not go
  /// backwards from one call to the next.
  bool on_at(std::int64_t t_ms);
  /// Where the interval containing the last time asked ends.
  std::int64_t interval_end_ms() const { return end_ms_; }

private:
  std::uint64_t state_;
  std::int64_t end_ms_ = 0;
  bool on_ = false;
};

/// A 64-bit value that differs from run to run, from `a` and `b` (the clock and the time).
std::uint64_t mix_seed(std::uint64_t a, std::uint64_t b);

} // namespace velto
