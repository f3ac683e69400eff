// One segment computed from nothing, as a run's thread computes: make the
// workload, allocate, initialise, step with every check, validate, then hash.
// The known-answer table is made and proven with it; a hook called after each
// step lets a measurement corrupt the fields where it chooses.
#pragma once

#include "solver/field_hash.hpp"
#include "solver/workload.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velto {

/// The hash, or the failure that stopped the segment before it.
struct SegmentHash {
  std::optional<std::uint64_t> hash;
  std::string failure;
};

/// Called with the fields and the step's index after each step that succeeded.
using AfterStep = std::function<void(FieldState& state, std::uint64_t step_index)>;

inline SegmentHash segment_hash(WorkloadKind kind, std::uint64_t grid_size, std::uint64_t steps,
                                const AfterStep& after_each_step = {}) {
  const std::unique_ptr<Workload> workload = make_workload(kind, 0);
  auto* const solver = dynamic_cast<FieldSolver*>(workload.get());
  if (solver == nullptr) {
    return {std::nullopt, "the workload is not a field solver"};
  }
  StatusMessage error = solver->allocate(FieldConfig{false, grid_size, run_dx});
  if (!error) {
    error = solver->initialize();
  }
  for (std::uint64_t s = 0; s < steps && !error; ++s) {
    error = solver->before_step(s);
    if (!error) {
      error = solver->step();
    }
    if (!error && after_each_step) {
      after_each_step(solver->state(), s);
    }
    if (!error) {
      error = solver->after_step(s);
    }
  }
  if (!error) {
    error = solver->validate(steps);
  }
  if (error) {
    return {std::nullopt, *error};
  }
  const std::optional<std::uint64_t> hash = field_hash(solver->state());
  return {hash, hash ? "" : "the fields could not be hashed"};
}

} // namespace velto
