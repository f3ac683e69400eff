// The soft-gaussian workload: a pulse subtracted from E.z and H.y at the centre
// before every step, and the injected-to-field energy ratio checked after it.
#include "solver/soft_gaussian.hpp"

#include "platform/intrinsics.hpp"
#include "solver/kernels.hpp"

#include <fmt/format.h>

#include <cmath>
#include <iterator>

namespace velto {
namespace {

struct RatioRow {
  double tolerance;
  double expected;
  std::uint64_t threshold;
};

// Expected ratios measured on the reference solver: the averaged H of
// node_energy makes the first pulse count 4/3, and the ratio settles near
// 1.519 once the pulse has left the source. Thresholds fall, so the first row
// below the step index is the latest phase reached.
constexpr RatioRow kRatioTable[] = {
    {0.01, 1.51904, 116}, {0.01, 1.51955, 100}, {0.025, 1.51892, 36}, {0.025, 1.5195, 32},
    {0.025, 1.51937, 30}, {0.025, 1.51921, 29}, {0.025, 1.51892, 28}, {0.025, 1.5184, 27},
    {0.025, 1.51754, 26}, {0.025, 1.51619, 25}, {0.05, 1.51418, 24},  {0.05, 1.51134, 23},
    {0.05, 1.50752, 22},  {0.05, 1.50259, 21},  {0.05, 1.49648, 20},  {0.05, 1.48919, 19},
    {0.05, 1.48077, 18},  {0.05, 1.47133, 17},  {0.05, 1.46103, 16},  {0.05, 1.45889, 15},
    {0.05, 1.45044, 14},  {0.05, 1.44206, 13},  {0.05, 1.43388, 12},  {0.05, 1.42599, 11},
    {0.05, 1.41845, 10},  {0.05, 1.41128, 9},   {0.05, 1.4045, 8},    {0.05, 1.39805, 7},
    {0.05, 1.392, 6},     {0.05, 1.38645, 5},   {0.05, 1.37989, 4},   {0.05, 1.36714, 3},
    {0.05, 1.34695, 2},   {0.05, 1.33333, 1},   {0.1, 1.33333, 0},
};
static_assert(std::size(kRatioTable) == 35);

double squared_norm(const FieldNode& v) {
  return (v.x * v.x + v.y * v.y) + v.z * v.z;
}

} // namespace

EnergyRatioBound energy_ratio_bound(std::uint64_t step_index) {
  for (const RatioRow& row : kRatioTable) {
    if (step_index > row.threshold) {
      return {row.tolerance, row.expected};
    }
  }
  return {0.1, 1.33333};
}

double source_amplitude(std::uint64_t step_index) {
  const double g = std::exp(std::pow((static_cast<double>(step_index) - 20.0) / 5.0, 2.0) * -0.5);
  return g * 200.0;
}

StatusMessage SoftGaussian::initialize() {
  enable_flush_denormals();
  energy_acc_ = 0.0;
  e_source_coef_ = state_.dt;
  h_source_coef_ = state_.dt / std::sqrt(1.0);
  return std::nullopt;
}

StatusMessage SoftGaussian::before_step(std::uint64_t step_index) {
  const double a = source_amplitude(step_index);
  const auto at = [](const FieldGrid& grid) {
    const auto edge = static_cast<std::size_t>(grid.edge);
    const std::size_t c = edge >> 1;
    return (c * edge + c) * edge + c;
  };
  FieldNode& e = state_.e.nodes.data()[at(state_.e)];
  FieldNode& h = state_.h.nodes.data()[at(state_.h)];
  const FieldNode e_old = e;
  const FieldNode h_old = h;
  e.z = e.z - a * e_source_coef_;
  h.y = h.y - a * h_source_coef_;
  energy_acc_ = (0.5 * (squared_norm(h) - squared_norm(h_old)) +
                 0.5 * (squared_norm(e) - squared_norm(e_old))) *
                    state_.dV +
                energy_acc_;
  return std::nullopt;
}

StatusMessage SoftGaussian::after_step(std::uint64_t step_index) {
  const double calc = total_energy(state_);
  const double ratio = energy_acc_ / calc;
  if (!std::isnan(ratio) && !std::isinf(ratio)) {
    const EnergyRatioBound bound = energy_ratio_bound(step_index);
    if (bound.tolerance > std::fabs(ratio - bound.expected)) {
      return std::nullopt;
    }
  }
  return fmt::format("\nenergy ratio failure in thread {}\nenergy_acc = {:f}\n"
                     "energy_calc = {:f}\nratio = {:f}",
                     thread_index(), energy_acc_, calc, ratio);
}

StatusMessage SoftGaussian::validate(std::uint64_t) {
  return std::nullopt;
}

} // namespace velto
