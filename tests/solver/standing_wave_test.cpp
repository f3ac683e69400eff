#include "solver/standing_wave.hpp"

#include "platform/intrinsics.hpp"
#include "solver/kernels.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace velto {
namespace {

FieldNode& at(FieldGrid& g, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  return g.nodes.data()[(x * g.edge + y) * g.edge + z];
}

/// A standing wave of size N, allocated and initialised.
class StandingWaveFixture : public ::testing::Test {
protected:
  void start(std::uint64_t n, std::uint32_t thread = 3) {
    wave_ = std::make_unique<StandingWave>(thread);
    ASSERT_EQ(wave_->allocate(FieldConfig{false, n, 0.01}), std::nullopt);
    ASSERT_EQ(wave_->initialize(), std::nullopt);
  }
  StandingWave& wave() { return *wave_; }
  FieldState& state() { return wave_->state(); }

private:
  std::unique_ptr<StandingWave> wave_;
};

TEST_F(StandingWaveFixture, InitialFieldIsTheSinePatternWithZeroFaces) {
  start(64);
  FieldState& s = state();
  const double first = std::sin((1.0 * (3.141592653589793 * 2.0)) / 65.0);
  for (std::uint64_t x = 0; x < 66; ++x)
    for (std::uint64_t y = 0; y < 66; ++y)
      for (std::uint64_t z = 0; z < 66; ++z) {
        const FieldNode& e = at(s.e, x, y, z);
        const bool face = x == 0 || y == 0 || z == 0 || x == 65 || y == 65 || z == 65;
        const double ex =
            face ? 0.0 : std::sin((static_cast<double>(x) * (3.141592653589793 * 2.0)) / 65.0);
        const double ey =
            face ? 0.0 : std::sin((static_cast<double>(y) * (3.141592653589793 * 2.0)) / 65.0);
        ASSERT_TRUE(e.x == ex && e.y == ey && e.z == 0.0 && e.w == 0.0)
            << x << ',' << y << ',' << z;
        if (x == 1 && !face) {
          ASSERT_EQ(e.x, first);
        }
      }
  EXPECT_EQ(fmt::format("{:f}", wave().energy_init()), "0.128956");
  EXPECT_EQ(wave().samples_per_axis(), 2u);
}

TEST_F(StandingWaveFixture, CorrectKernelsLeaveTheWaveExactlyUnchanged) {
  start(64);
  const std::vector<FieldNode> e_start(state().e.nodes.data(),
                                       state().e.nodes.data() + state().e.nodes.count());
  for (std::uint64_t s = 0; s < 40; ++s) {
    ASSERT_EQ(wave().before_step(s), std::nullopt);
    ASSERT_EQ(wave().step(), std::nullopt);
    ASSERT_EQ(wave().after_step(s), std::nullopt) << s;
  }
  for (std::size_t i = 0; i < state().h.nodes.count(); ++i) {
    const FieldNode& h = state().h.nodes.data()[i];
    ASSERT_TRUE(h.x == 0.0 && h.y == 0.0 && h.z == 0.0) << i;
  }
  EXPECT_EQ(std::memcmp(e_start.data(), state().e.nodes.data(), e_start.size() * sizeof(FieldNode)),
            0);
  EXPECT_EQ(total_energy(state()), wave().energy_init());
  EXPECT_EQ(wave().validate(40), std::nullopt);
}

TEST_F(StandingWaveFixture, ChangedSampleNodeFailsTheNextVerification) {
  start(64);
  const double init = node_energy(state(), 17, 17, 17);
  at(state().e, 17, 17, 17).z = 1.0;
  const double calc = node_energy(state(), 17, 17, 17);
  ASSERT_NE(init, calc);
  EXPECT_EQ(wave().after_step(5),
            fmt::format("\nnode verification failure in thread 3\ninit_val = {:f}\ncalc_val = "
                        "{:f}\nratio = {:f}",
                        init, calc, std::fabs(init / calc - 1.0)));
}

TEST_F(StandingWaveFixture, SampleToleranceIsOnePartIn100000) {
  // With H zero a sample's energy is proportional to E.x² + E.y²: scaling both
  // by sqrt(1 + d) changes the energy by d of its value.
  struct Case {
    std::uint64_t x, y, z;
    double change;
    bool holds;
  };
  const Case cases[] = {
      {33, 17, 33, 0.5e-5, true},
      {33, 17, 33, 0.9e-5, true},
      {33, 17, 33, 2e-5, false},
      {17, 33, 17, -2e-5, false},
  };
  for (const Case& c : cases) {
    start(64, 1);
    FieldNode& e = at(state().e, c.x, c.y, c.z);
    const double scale = std::sqrt(1.0 + c.change);
    e.x = e.x * scale;
    e.y = e.y * scale;
    EXPECT_EQ(wave().after_step(0) == std::nullopt, c.holds) << c.change;
  }
}

TEST(StandingWave, SampleAndEnergyRatioDecisions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // 1 + 1e-5 is not representable, so no quotient deviates by exactly 1e-5;
  // the nearest quotients on either side of the limit decide the comparison.
  double just_below = 1.0 + 1e-5;
  if (just_below - 1.0 > 1e-5) {
    just_below = std::nextafter(just_below, 0.0);
  }
  const double just_above = std::nextafter(just_below, 2.0);
  struct SampleCase {
    double init, calc;
    bool holds;
  };
  const SampleCase samples[] = {
      {0.25, 0.25, true}, {just_below, 1.0, true}, {just_above, 1.0, false}, {0.0, 0.0, false},
      {1.0, 0.0, false},  {nan, 1.0, false},       {1.0, 1.0 + 2e-5, false},
  };
  for (const SampleCase& c : samples) {
    EXPECT_EQ(sample_energy_holds(c.init, c.calc), c.holds) << c.init << " / " << c.calc;
  }
  struct RatioCase {
    double ratio;
    bool holds;
  };
  const RatioCase ratios[] = {{1.0, true},   {0.95, true}, {1.05, true}, {0.85, false},
                              {1.15, false}, {1.1, false}, {inf, false}, {-inf, false},
                              {nan, false},  {0.0, false}};
  for (const RatioCase& c : ratios) {
    EXPECT_EQ(energy_ratio_holds(c.ratio), c.holds) << c.ratio;
  }
}

TEST_F(StandingWaveFixture, LostEnergyFailsValidationWithTheMessage) {
  start(64, 2);
  for (std::size_t i = 0; i < state().e.nodes.count(); ++i) {
    state().e.nodes.data()[i] = {0.0, 0.0, 0.0, 0.0};
  }
  EXPECT_EQ(wave().validate(10),
            "\nenergy ratio failure in thread 2\nenergy_init = 0.128956\nenergy_calc = 0.000000"
            "\nratio = inf");
}

TEST(StandingWave, InitializeFailures) {
  struct Case {
    std::uint64_t n;
    const char* message;
  };
  const Case cases[] = {
      {0, "failed to initalize H field"},
      {16, "allocation failed for validation buffer"}, // (16 >> 4) - 2 wraps
      {32, "allocation failed for validation buffer"}, // no samples
      {47, "allocation failed for validation buffer"},
  };
  for (const Case& c : cases) {
    StandingWave w(0);
    ASSERT_EQ(w.allocate(FieldConfig{false, c.n, 0.01}), std::nullopt);
    EXPECT_EQ(w.initialize(), c.message) << c.n;
    EXPECT_EQ(w.after_step(0), std::nullopt) << "nothing recorded to verify, " << c.n;
  }
  StandingWave unallocated(0);
  EXPECT_EQ(unallocated.initialize(), "failed to initalize H field");
}

TEST(StandingWave, InitializeSetsFlushToZeroAndDenormalsAreZero) {
  const std::uint32_t saved = read_sse_control();
  write_sse_control(saved & ~kFlushDenormalsBits);
  StandingWave w(0);
  ASSERT_EQ(w.allocate(FieldConfig{false, 64, 0.01}), std::nullopt);
  ASSERT_EQ(w.initialize(), std::nullopt);
  EXPECT_EQ(read_sse_control() & kFlushDenormalsBits, kFlushDenormalsBits);
  write_sse_control(saved);
}

} // namespace
} // namespace velto
