// What a thread's fields hash to after a number of steps from a workload's
// initial state: the answers a stability test compares its segments with.
#pragma once

#include "solver/workload.hpp"

#include <cstdint>
#include <span>

namespace velto {

/// field_hash of a workload's fields after `steps` steps (each with every check
/// a run makes, then the final validation) from its initial state at
/// `grid_size`, with the grid spacing run_dx.
struct KnownAnswer {
  WorkloadKind workload;
  std::uint64_t grid_size;
  std::uint64_t steps;
  std::uint64_t hash;
};

/// Both workloads at 64, 128, 192 and 256; at each, the steps of a segment that
/// lasts about one to three seconds on one core.
std::span<const KnownAnswer> known_answers();

} // namespace velto
