#include "solver/soft_gaussian.hpp"

#include "solver/kernels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace velto {
namespace {

FieldNode& at(FieldGrid& g, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  return g.nodes.data()[(x * g.edge + y) * g.edge + z];
}

TEST(SoftGaussian, RatioBoundFollowsTheLatestThresholdPassed) {
  struct Case {
    std::uint64_t step;
    double tolerance;
    double expected;
  };
  const Case cases[] = {
      {0, 0.1, 1.33333},    {1, 0.1, 1.33333},    {2, 0.05, 1.33333},          {3, 0.05, 1.34695},
      {20, 0.05, 1.48919},  {24, 0.05, 1.51134},  {25, 0.05, 1.51418},         {26, 0.025, 1.51619},
      {36, 0.025, 1.5195},  {37, 0.025, 1.51892}, {100, 0.025, 1.51892},       {101, 0.01, 1.51955},
      {116, 0.01, 1.51955}, {117, 0.01, 1.51904}, {UINT64_MAX, 0.01, 1.51904},
  };
  for (const Case& c : cases) {
    const EnergyRatioBound b = energy_ratio_bound(c.step);
    EXPECT_EQ(b.tolerance, c.tolerance) << c.step;
    EXPECT_EQ(b.expected, c.expected) << c.step;
  }
}

TEST(SoftGaussian, PulsePeaksAtStep20AndIsSymmetric) {
  EXPECT_EQ(source_amplitude(20), 200.0);
  EXPECT_EQ(source_amplitude(10), source_amplitude(30));
  EXPECT_NEAR(source_amplitude(10), 27.067, 1e-3);
  EXPECT_NEAR(source_amplitude(0), 0.0671, 1e-4);
}

class SoftGaussianFixture : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(wave_.allocate(FieldConfig{false, 64, 0.01}), std::nullopt);
    ASSERT_EQ(wave_.initialize(), std::nullopt);
  }
  FieldState& state() { return wave_.state(); }
  SoftGaussian wave_{5};
};

TEST_F(SoftGaussianFixture, FirstSourceChangesTwoCentreValuesAndCountsFourThirds) {
  ASSERT_EQ(wave_.before_step(0), std::nullopt);
  const double a = 200.0 * std::exp(-8.0);
  const double change = -(a * state().dt);
  for (const FieldGrid* g : {&state().e, &state().h}) {
    for (std::size_t i = 0; i < g->nodes.count(); ++i) {
      const FieldNode& n = g->nodes.data()[i];
      const bool centre = i == (33u * 66 + 33) * 66 + 33;
      const double ez = g == &state().e && centre ? n.z : 0.0;
      const double hy = g == &state().h && centre ? n.y : 0.0;
      ASSERT_TRUE(n.x == 0.0 && n.y == hy && n.z == ez && n.w == 0.0) << i;
    }
  }
  EXPECT_DOUBLE_EQ(at(state().e, 33, 33, 33).z, change);
  EXPECT_DOUBLE_EQ(at(state().h, 33, 33, 33).y, change);
  EXPECT_DOUBLE_EQ(wave_.energy_acc(), state().dV * (a * state().dt) * (a * state().dt));
  EXPECT_NEAR(wave_.energy_acc() / total_energy(state()), 4.0 / 3.0, 1e-12);
}

TEST_F(SoftGaussianFixture, PeakSourceSubtractsExactlyOne) {
  at(state().e, 33, 33, 33).z = 3.0;
  at(state().h, 33, 33, 33).y = -2.0;
  ASSERT_EQ(wave_.before_step(20), std::nullopt);
  EXPECT_EQ(at(state().e, 33, 33, 33).z, 2.0);
  EXPECT_EQ(at(state().h, 33, 33, 33).y, -3.0);
}

TEST_F(SoftGaussianFixture, ThreeHundredStepsKeepTheEnergyRatioInsideTheTable) {
  // The physics check: the kernels, the source and the ratio table must agree
  // over the pulse, its departure and its reflections from the faces.
  for (std::uint64_t s = 0; s < 300; ++s) {
    ASSERT_EQ(wave_.before_step(s), std::nullopt);
    ASSERT_EQ(wave_.step(), std::nullopt);
    ASSERT_EQ(wave_.after_step(s), std::nullopt) << "step " << s;
  }
  EXPECT_NEAR(wave_.energy_acc() / total_energy(state()), 1.51904, 0.01);
  EXPECT_EQ(wave_.validate(300), std::nullopt);
}

TEST_F(SoftGaussianFixture, RatioIsJudgedAgainstTheBoundOfItsStep) {
  // The peak source on zero fields puts exactly dV into energy_acc; replacing
  // the fields by one node of energy dV / 1.45 sets the ratio to 1.45.
  ASSERT_EQ(wave_.before_step(20), std::nullopt);
  ASSERT_EQ(wave_.energy_acc(), state().dV);
  at(state().e, 33, 33, 33).z = 0.0;
  at(state().h, 33, 33, 33).y = 0.0;
  at(state().e, 10, 10, 10).x = std::sqrt(2.0 / 1.45);
  struct Case {
    std::uint64_t step;
    bool holds;
  };
  const Case cases[] = {{0, false}, {1, false}, {16, true}, {20, true}, {30, false}, {200, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(wave_.after_step(c.step) == std::nullopt, c.holds) << c.step;
  }
  EXPECT_EQ(wave_.after_step(200),
            "\nenergy ratio failure in thread 5\nenergy_acc = 0.000001\nenergy_calc = "
            "0.000001\nratio = 1.450000");

  // No field energy at all: the ratio is infinite, which never holds.
  at(state().e, 10, 10, 10).x = 0.0;
  const std::string infinite = wave_.after_step(0).value_or("");
  EXPECT_EQ(infinite, "\nenergy ratio failure in thread 5\nenergy_acc = 0.000001\nenergy_calc = "
                      "0.000000\nratio = inf");
  EXPECT_EQ(wave_.validate(1), std::nullopt);
}

} // namespace
} // namespace velto
