// The standing-wave workload: initial field, per-step sample verification and
// the final energy check.
#include "solver/standing_wave.hpp"

#include "platform/intrinsics.hpp"
#include "solver/kernels.hpp"

#include <fmt/format.h>

#include <cmath>
#include <new>
#include <string>

namespace velto {
namespace {

constexpr double kPi = 3.141592653589793;

// Sample a of an axis lies at position 16a + 17: one sample per 16 nodes,
// clear of the faces the kernels never write.
constexpr std::size_t sample_position(std::size_t a) {
  return 16 * a + 17;
}

} // namespace

std::uint64_t verification_samples_per_axis(std::uint64_t grid_size) {
  return (grid_size >> 4) - 2;
}

bool sample_energy_holds(double init, double calc) {
  const double r = std::fabs(init / calc - 1.0);
  return !(std::isnan(r) || r > 1e-5);
}

bool energy_ratio_holds(double ratio) {
  return !std::isnan(ratio) && !std::isinf(ratio) && std::fabs(ratio - 1.0) < 0.1;
}

StatusMessage StandingWave::initialize() {
  enable_flush_denormals();
  if (!fields_ready(state_)) {
    return std::string("failed to initalize H field");
  }

  const std::uint64_t n = state_.e.edge - 2;
  const auto edge = static_cast<std::size_t>(state_.e.edge);
  const double k = kPi * static_cast<double>(n >> 5);
  const double denominator = static_cast<double>(n + 1);
  FieldNode* const e = state_.e.nodes.data();
  // E.x depends only on x and E.y only on y: each sine is evaluated once per
  // row instead of once per node, with the same expression, so every node
  // gets the same bits.
  for (std::uint64_t x = 1; x < n + 1; ++x) {
    const double ex = std::sin((static_cast<double>(x) * k) / denominator);
    for (std::uint64_t y = 1; y < n + 1; ++y) {
      const double ey = std::sin((static_cast<double>(y) * k) / denominator);
      FieldNode* const row =
          e + (static_cast<std::size_t>(x) * edge + static_cast<std::size_t>(y)) * edge;
      for (std::size_t z = 1; z < edge - 1; ++z) {
        row[z].x = ex;
        row[z].y = ey;
        row[z].z = 0.0;
        row[z].w = 0.0;
      }
    }
  }

  if (!update_h(state_)) {
    return std::string("failed to initalize H field");
  }
  energy_init_ = total_energy(state_);

  const std::uint64_t m = verification_samples_per_axis(n);
  constexpr std::uint64_t max_elements = SIZE_MAX / sizeof(double);
  if (m == 0 || m > max_elements / m || m * m > max_elements / m) {
    return std::string("allocation failed for validation buffer");
  }
  const auto samples = static_cast<std::size_t>(m * m * m);
  validation_values_.reset(new (std::nothrow) double[samples]);
  if (!validation_values_) {
    return std::string("allocation failed for validation buffer");
  }
  const auto per_axis = static_cast<std::size_t>(m);
  for (std::size_t a = 0; a < per_axis; ++a) {
    for (std::size_t b = 0; b < per_axis; ++b) {
      for (std::size_t c = 0; c < per_axis; ++c) {
        validation_values_[(a * per_axis + b) * per_axis + c] =
            node_energy(state_, sample_position(a), sample_position(b), sample_position(c));
      }
    }
  }
  samples_per_axis_ = per_axis;
  return std::nullopt;
}

StatusMessage StandingWave::before_step(std::uint64_t) {
  return std::nullopt;
}

StatusMessage StandingWave::after_step(std::uint64_t) {
  const std::size_t m = samples_per_axis_;
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b < m; ++b) {
      for (std::size_t c = 0; c < m; ++c) {
        const double init = validation_values_[(a * m + b) * m + c];
        const double calc =
            node_energy(state_, sample_position(a), sample_position(b), sample_position(c));
        if (!sample_energy_holds(init, calc)) {
          return fmt::format("\nnode verification failure in thread {}\ninit_val = {:f}\n"
                             "calc_val = {:f}\nratio = {:f}",
                             thread_index(), init, calc, std::fabs(init / calc - 1.0));
        }
      }
    }
  }
  return std::nullopt;
}

StatusMessage StandingWave::validate(std::uint64_t) {
  const double calc = total_energy(state_);
  const double ratio = energy_init_ / calc;
  if (energy_ratio_holds(ratio)) {
    return std::nullopt;
  }
  return fmt::format("\nenergy ratio failure in thread {}\nenergy_init = {:f}\n"
                     "energy_calc = {:f}\nratio = {:f}",
                     thread_index(), energy_init_, calc, ratio);
}

} // namespace velto
