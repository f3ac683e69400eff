// The workload interface through which a worker drives its solver, and the factory.
#pragma once

#include "platform/name_table.hpp"
#include "solver/field.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

/// Empty for success; otherwise the complete message the worker prints.
using StatusMessage = std::optional<std::string>;

/// The grid spacing of every run (the known answers hold for it).
inline constexpr double run_dx = 0.01;

/// What one worker computes on. Calling contract: allocate once; initialize
/// once after a successful allocate; then before_step(s), step(), after_step(s)
/// for s = 0, 1, …; validate(S) once if the loop ended without an error.
class Workload {
public:
  explicit Workload(std::uint32_t thread_index) : thread_index_(thread_index) {}
  Workload(const Workload&) = delete;
  Workload& operator=(const Workload&) = delete;
  virtual ~Workload() = default;

  virtual StatusMessage allocate(const FieldConfig& config) = 0;
  virtual StatusMessage initialize() = 0;
  virtual StatusMessage before_step(std::uint64_t step_index) = 0;
  virtual StatusMessage step() = 0;
  virtual StatusMessage after_step(std::uint64_t step_index) = 0;
  virtual StatusMessage validate(std::uint64_t completed_steps) = 0;
  /// Grid-point updates credited per step: 2·N³.
  virtual std::uint64_t updates_per_step() const = 0;

  std::uint32_t thread_index() const { return thread_index_; }

private:
  std::uint32_t thread_index_;
};

/// The solver shared by both workloads: owns the fields, allocates them and
/// advances them by one H and one E half-step.
class FieldSolver : public Workload {
public:
  explicit FieldSolver(std::uint32_t thread_index,
                       FieldAllocator& allocator = default_field_allocator())
      : Workload(thread_index), allocator_(&allocator) {}

  StatusMessage allocate(const FieldConfig& config) override;
  StatusMessage step() override;
  std::uint64_t updates_per_step() const override;

  /// Takes `other`'s fields, which it leaves without any; the fields then
  /// hold whatever `other` left in them until restart.
  void take_fields(FieldSolver& other);
  /// Both blocks zeroed, every node, faces and fourth component included, as
  /// allocate leaves them; then initialize. A stability test's segment starts
  /// from here whatever the last one left behind.
  StatusMessage restart();

  FieldState& state() { return state_; }
  const FieldState& state() const { return state_; }
  bool allocated() const { return allocated_; }

protected:
  FieldState state_;
  bool allocated_ = false;

private:
  FieldAllocator* allocator_;
};

/// Grid-point updates credited per step on a grid of size `grid_size`: 2·N³,
/// the N³ nodes of each field.
constexpr std::uint64_t grid_updates_per_step(std::uint64_t grid_size) {
  return 2 * grid_size * grid_size * grid_size;
}

/// The workloads velto runs; their scores are not comparable with each other.
enum class WorkloadKind : std::uint8_t { standing_wave, soft_gaussian };

/// The workloads and their names, in the order the help and messages list them.
inline constexpr NameTable<WorkloadKind, 2> workload_table = {{
    {WorkloadKind::standing_wave, "standing_wave"},
    {WorkloadKind::soft_gaussian, "soft_gaussian"},
}};

/// A new workload of `kind` for thread `thread_index`; null when its memory
/// cannot be had.
std::unique_ptr<Workload> make_workload(WorkloadKind kind, std::uint32_t thread_index);

/// Where a run's threads get their workloads: make_workload, or in tests one
/// that fails on purpose. Null for a thread that cannot have one.
using WorkloadFactory =
    std::function<std::unique_ptr<Workload>(WorkloadKind kind, std::uint32_t thread_index)>;

} // namespace velto
