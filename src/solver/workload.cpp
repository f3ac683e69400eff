// The solver both workloads share, and the factory that names them.
#include "solver/workload.hpp"

#include "solver/kernels.hpp"
#include "solver/soft_gaussian.hpp"
#include "solver/standing_wave.hpp"

#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace velto {

StatusMessage FieldSolver::allocate(const FieldConfig& config) {
  // The buffers give their blocks back themselves. The old pair goes first,
  // H then E (members end in reverse order), so that the new pair never has
  // to fit beside it; the last pair goes with the solver, in the same order.
  { const FieldState old = std::move(state_); }
  state_ = FieldState(config, *allocator_);
  allocated_ = true;
  if (state_.e.nodes.empty() || state_.h.nodes.empty()) {
    return std::string("field allocation failed");
  }
  return std::nullopt;
}

StatusMessage FieldSolver::step() {
  if (!update_h(state_)) {
    return "solver H step error in thread " + std::to_string(thread_index());
  }
  if (!update_e(state_)) {
    return "solver E step error in thread " + std::to_string(thread_index());
  }
  return std::nullopt;
}

void FieldSolver::take_fields(FieldSolver& other) {
  state_ = std::move(other.state_);
  allocated_ = other.allocated_;
  other.state_ = FieldState();
  other.allocated_ = false;
}

StatusMessage FieldSolver::restart() {
  for (const FieldGrid* grid : {&state_.e, &state_.h}) {
    if (!grid->nodes.empty()) {
      std::memset(static_cast<void*>(grid->nodes.data()), 0,
                  grid->nodes.count() * sizeof(FieldNode));
    }
  }
  return initialize();
}

std::uint64_t FieldSolver::updates_per_step() const {
  // Both fields have the same edge: the grid plus a face on either side.
  return grid_updates_per_step(state_.e.edge - 2);
}

std::unique_ptr<Workload> make_workload(WorkloadKind kind, std::uint32_t thread_index) {
  // nothrow: a failed allocation makes nothing rather than throwing past the worker.
  switch (kind) {
  case WorkloadKind::standing_wave:
    return std::unique_ptr<Workload>(new (std::nothrow) StandingWave(thread_index));
  case WorkloadKind::soft_gaussian:
    return std::unique_ptr<Workload>(new (std::nothrow) SoftGaussian(thread_index));
  }
  return nullptr;
}

} // namespace velto
