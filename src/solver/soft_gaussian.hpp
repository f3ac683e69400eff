// The second workload: a Gaussian pulse fed into the centre node, checked by
// the ratio of injected to field energy after every step.
#pragma once

#include "solver/workload.hpp"

#include <cstdint>

namespace velto {

/// Expected value of energy_acc / total_energy after a step, and how far the
/// measured ratio may be from it (strictly less).
struct EnergyRatioBound {
  double tolerance;
  double expected;
};

/// The bound for the check after step `step_index`: the first table row whose
/// threshold is below the index, else expected 1.33333 within 0.1.
EnergyRatioBound energy_ratio_bound(std::uint64_t step_index);

/// The source amplitude before step `step_index`: 200 × exp(−0.5 × ((s − 20) / 5)²).
double source_amplitude(std::uint64_t step_index);

class SoftGaussian : public FieldSolver {
public:
  explicit SoftGaussian(std::uint32_t thread_index,
                        FieldAllocator& allocator = default_field_allocator())
      : FieldSolver(thread_index, allocator) {}

  StatusMessage initialize() override;
  StatusMessage before_step(std::uint64_t step_index) override;
  StatusMessage after_step(std::uint64_t step_index) override;
  StatusMessage validate(std::uint64_t completed_steps) override;

  /// Energy the source has put into the fields so far.
  double energy_acc() const { return energy_acc_; }

private:
  double energy_acc_ = 0.0;
  double e_source_coef_ = 0.0;
  double h_source_coef_ = 0.0;
};

} // namespace velto
