// The default workload: a standing wave whose discrete curl vanishes, so a
// correct solver leaves both fields unchanged step after step.
#pragma once

#include "solver/workload.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velto {

/// Samples per axis of the verification lattice for grid size N: (N >> 4) − 2,
/// wrapping in 64 bits below N = 32.
std::uint64_t verification_samples_per_axis(std::uint64_t grid_size);

/// True when a sample whose energy was `init` and is now `calc` still holds:
/// |init / calc − 1| is a number no greater than 1e-5.
bool sample_energy_holds(double init, double calc);

/// True when the final energy ratio init / calc is finite and strictly within
/// 0.1 of 1.
bool energy_ratio_holds(double ratio);

class StandingWave : public FieldSolver {
public:
  explicit StandingWave(std::uint32_t thread_index,
                        FieldAllocator& allocator = default_field_allocator())
      : FieldSolver(thread_index, allocator) {}

  StatusMessage initialize() override;
  StatusMessage before_step(std::uint64_t step_index) override;
  StatusMessage after_step(std::uint64_t step_index) override;
  StatusMessage validate(std::uint64_t completed_steps) override;

  /// total_energy right after initialisation.
  double energy_init() const { return energy_init_; }
  /// Samples per axis of the recorded lattice; 0 before a successful initialize.
  std::size_t samples_per_axis() const { return samples_per_axis_; }

private:
  double energy_init_ = 0.0;
  // Released before the fields: members go before the base class.
  std::unique_ptr<double[]> validation_values_;
  std::size_t samples_per_axis_ = 0;
};

} // namespace velto
