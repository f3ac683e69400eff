// Fault injection for the standing wave: a workload that behaves exactly like
// the real one until a chosen step, then adds a chosen amount to one field
// value, and a driver that reports which check caught it and how late.
// Test-only: nothing here is part of the program.
#pragma once

#include "solver/field.hpp"
#include "solver/standing_wave.hpp"
#include "solver/workload.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velto::faults {

enum class Field { e, h };
enum class Component { x, y, z };

inline const char* field_name(Field field) {
  return field == Field::e ? "E" : "H";
}

inline const char* component_name(Component component) {
  switch (component) {
  case Component::x:
    return "x";
  case Component::y:
    return "y";
  case Component::z:
    return "z";
  }
  return "?";
}

/// One corrupted value: after step `step` has run, `magnitude` is added to
/// `component` of `field` at node (x, y, z), each position 0..N+1.
struct Corruption {
  std::uint64_t step = 0;
  Field field = Field::e;
  Component component = Component::x;
  std::uint64_t x = 0;
  std::uint64_t y = 0;
  std::uint64_t z = 0;
  double magnitude = 0.0;
};

inline std::string describe(const Corruption& c) {
  return std::string(field_name(c.field)) + "(" + std::to_string(c.x) + "," + std::to_string(c.y) +
         "," + std::to_string(c.z) + ")." + component_name(c.component) +
         " += " + std::to_string(c.magnitude) + " after step " + std::to_string(c.step);
}

/// The value the corruption changes; the node must lie inside the grid.
inline double& corrupted_value(FieldState& state, const Corruption& c) {
  FieldGrid& grid = c.field == Field::e ? state.e : state.h;
  FieldNode& node = grid.nodes.data()[(c.x * grid.edge + c.y) * grid.edge + c.z];
  switch (c.component) {
  case Component::x:
    return node.x;
  case Component::y:
    return node.y;
  case Component::z:
    break;
  }
  return node.z;
}

/// Whether the corruption names a node of a grid of size N.
inline bool inside(const Corruption& c, std::uint64_t grid_size) {
  const std::uint64_t edge = grid_size + 2;
  return c.x < edge && c.y < edge && c.z < edge;
}

/// A real StandingWave whose step `corruption.step` is followed by the
/// corruption; every operation is otherwise the wrapped workload's own.
class CorruptedStandingWave final : public Workload {
public:
  CorruptedStandingWave(const Corruption& corruption, std::uint32_t thread_index)
      : Workload(thread_index), wave_(thread_index), corruption_(corruption) {}

  StatusMessage allocate(const FieldConfig& config) override {
    StatusMessage status = wave_.allocate(config);
    if (!status && !inside(corruption_, config.grid_size)) {
      return std::string("corruption outside the grid: ") + describe(corruption_);
    }
    return status;
  }
  StatusMessage initialize() override { return wave_.initialize(); }
  StatusMessage before_step(std::uint64_t step_index) override {
    return wave_.before_step(step_index);
  }
  StatusMessage step() override {
    StatusMessage status = wave_.step();
    if (!status && steps_ == corruption_.step) {
      corrupted_value(wave_.state(), corruption_) += corruption_.magnitude;
      applied_ = true;
    }
    ++steps_;
    return status;
  }
  StatusMessage after_step(std::uint64_t step_index) override {
    return wave_.after_step(step_index);
  }
  StatusMessage validate(std::uint64_t completed_steps) override {
    return wave_.validate(completed_steps);
  }
  std::uint64_t updates_per_step() const override { return wave_.updates_per_step(); }

  StandingWave& wave() { return wave_; }
  /// True once the corruption has been written.
  bool applied() const { return applied_; }

private:
  StandingWave wave_;
  Corruption corruption_;
  std::uint64_t steps_ = 0;
  bool applied_ = false;
};

enum class Catch {
  node_verification, ///< a per-step sample check failed
  energy_ratio,      ///< every step passed, the final validation failed
  escaped,           ///< nothing noticed
};

inline const char* catch_name(Catch how) {
  switch (how) {
  case Catch::node_verification:
    return "node verification";
  case Catch::energy_ratio:
    return "energy ratio";
  case Catch::escaped:
    break;
  }
  return "escaped";
}

struct Detection {
  Catch how = Catch::escaped;
  /// For node verification: further steps run after the corrupting one before
  /// the check that failed (0 = the check of the corrupting step itself).
  std::uint64_t latency = 0;
  std::string message; ///< the failing check's text; empty when escaped
};

/// Runs a standing wave of size N through the worker's call sequence with the
/// corruption applied, and checks `checks_after` steps starting with the
/// corrupting one, then validates. nullopt when the workload itself could not
/// run (allocation, initialisation, a step error).
inline std::optional<Detection> detect(const Corruption& corruption, std::uint64_t grid_size,
                                       std::uint64_t checks_after) {
  CorruptedStandingWave workload(corruption, 0);
  const bool large_pages = false;
  if (workload.allocate(FieldConfig{large_pages, grid_size, 0.01}) || workload.initialize()) {
    return std::nullopt;
  }
  const std::uint64_t end = corruption.step + checks_after;
  std::uint64_t s = 0;
  for (; s < end; ++s) {
    if (workload.before_step(s) || workload.step()) {
      return std::nullopt;
    }
    if (StatusMessage failure = workload.after_step(s)) {
      if (s < corruption.step) {
        return std::nullopt; // failed before anything was corrupted
      }
      return Detection{Catch::node_verification, s - corruption.step, std::move(*failure)};
    }
  }
  if (StatusMessage failure = workload.validate(s)) {
    return Detection{Catch::energy_ratio, 0, std::move(*failure)};
  }
  return Detection{};
}

} // namespace velto::faults
