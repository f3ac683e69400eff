#include "solver/kernels.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace velto {
namespace {

FieldState make_state(std::uint64_t n) {
  return FieldState(FieldConfig{false, n, 0.01});
}

FieldNode& at(FieldGrid& g, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  return g.nodes.data()[(x * g.edge + y) * g.edge + z];
}

void fill_random(FieldGrid& g, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (std::size_t i = 0; i < g.nodes.count(); ++i) {
    g.nodes.data()[i] = {value(rng), value(rng), value(rng), 0.0};
  }
}

std::vector<FieldNode> copy_of(const FieldGrid& g) {
  return {g.nodes.data(), g.nodes.data() + g.nodes.count()};
}

bool same_bits(const std::vector<FieldNode>& a, const FieldGrid& g) {
  return a.size() == g.nodes.count() &&
         std::memcmp(a.data(), g.nodes.data(), a.size() * sizeof(FieldNode)) == 0;
}

// The half-steps transcribed node by node with full (x, y, z) indexing, as a
// reference for the row-pointer kernels.
void reference_update_h(FieldState& s) {
  const std::uint64_t b = s.e.edge - 2;
  const double c = s.coef_h;
  for (std::uint64_t x = 1; x < b; ++x)
    for (std::uint64_t y = 1; y < b; ++y)
      for (std::uint64_t z = 1; z < b; ++z) {
        const FieldNode e0 = at(s.e, x, y, z), ex = at(s.e, x + 1, y, z);
        const FieldNode ey = at(s.e, x, y + 1, z), ez = at(s.e, x, y, z + 1);
        FieldNode& h = at(s.h, x, y, z);
        h.x = h.x - c * ((ey.z - e0.z) - (ez.y - e0.y));
        h.y = h.y - c * ((ez.x - e0.x) - (ex.z - e0.z));
        h.z = h.z - c * ((ex.y - e0.y) - (ey.x - e0.x));
      }
}

void reference_update_e(FieldState& s) {
  const std::uint64_t b = s.e.edge - 1;
  const double c = s.coef_e;
  for (std::uint64_t x = 2; x < b; ++x)
    for (std::uint64_t y = 2; y < b; ++y)
      for (std::uint64_t z = 2; z < b; ++z) {
        const FieldNode h0 = at(s.h, x, y, z), hx = at(s.h, x - 1, y, z);
        const FieldNode hy = at(s.h, x, y - 1, z), hz = at(s.h, x, y, z - 1);
        FieldNode& e = at(s.e, x, y, z);
        e.x = e.x + c * ((h0.z - hy.z) - (h0.y - hz.y));
        e.y = e.y + c * ((h0.x - hz.x) - (h0.z - hx.z));
        e.z = e.z + c * ((h0.y - hx.y) - (h0.x - hy.x));
      }
}

TEST(Kernels, SingleImpulseOfEzGivesExactlyFourHValues) {
  FieldState s = make_state(8);
  const std::uint64_t c = 4;
  at(s.e, c, c, c).z = 1.0;
  ASSERT_TRUE(update_h(s));
  for (std::uint64_t x = 0; x < s.h.edge; ++x)
    for (std::uint64_t y = 0; y < s.h.edge; ++y)
      for (std::uint64_t z = 0; z < s.h.edge; ++z) {
        double ex = 0.0, ey = 0.0;
        if (z == c && x == c && y == c) {
          ex = 0.5;
          ey = -0.5;
        } else if (z == c && x == c && y == c - 1) {
          ex = -0.5;
        } else if (z == c && x == c - 1 && y == c) {
          ey = 0.5;
        }
        const FieldNode& h = at(s.h, x, y, z);
        ASSERT_TRUE(h.x == ex && h.y == ey && h.z == 0.0 && h.w == 0.0)
            << x << ',' << y << ',' << z << ": " << h.x << ' ' << h.y << ' ' << h.z;
      }
}

TEST(Kernels, HalfStepsMatchTheNodeByNodeReferenceBitForBit) {
  // Random fields everywhere, faces included: every node the kernels must not
  // write has to come out unchanged as well.
  for (const std::uint64_t n : {1u, 2u, 5u, 12u}) {
    std::mt19937_64 rng(n);
    FieldState s = make_state(n);
    FieldState r = make_state(n);
    fill_random(s.e, rng);
    fill_random(s.h, rng);
    std::memcpy(r.e.nodes.data(), s.e.nodes.data(), s.e.nodes.count() * sizeof(FieldNode));
    std::memcpy(r.h.nodes.data(), s.h.nodes.data(), s.h.nodes.count() * sizeof(FieldNode));
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(update_h(s));
      reference_update_h(r);
      ASSERT_TRUE(update_e(s));
      reference_update_e(r);
    }
    EXPECT_TRUE(same_bits(copy_of(r.e), s.e)) << n;
    EXPECT_TRUE(same_bits(copy_of(r.h), s.h)) << n;
  }
}

TEST(Kernels, NoInteriorOrNoStorageIsAFailureThatWritesNothing) {
  FieldState empty_grid = make_state(0);
  std::mt19937_64 rng(7);
  fill_random(empty_grid.e, rng);
  fill_random(empty_grid.h, rng);
  const auto e_before = copy_of(empty_grid.e);
  const auto h_before = copy_of(empty_grid.h);
  EXPECT_FALSE(update_h(empty_grid));
  EXPECT_FALSE(update_e(empty_grid));
  EXPECT_TRUE(same_bits(e_before, empty_grid.e));
  EXPECT_TRUE(same_bits(h_before, empty_grid.h));

  FieldState unallocated;
  EXPECT_FALSE(update_h(unallocated));
  EXPECT_FALSE(update_e(unallocated));
  EXPECT_EQ(total_energy(unallocated), 0.0);
}

TEST(Kernels, NodeEnergyAveragesEachHComponentWithItsNeighbourBehind) {
  FieldState s = make_state(4);
  const double half_volume = s.dV * 0.5;
  at(s.e, 2, 2, 2) = {1.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(node_energy(s, 2, 2, 2), 0.5 * s.dV);
  at(s.e, 2, 2, 2) = {0.0, 0.0, 0.0, 0.0};
  // Only the neighbour one back along each component's axis counts.
  at(s.h, 1, 2, 2).x = 2.0; // ax = 1
  at(s.h, 2, 1, 2).y = 4.0; // ay = 2
  at(s.h, 2, 2, 1).z = 6.0; // az = 3
  at(s.h, 1, 2, 2).y = 100.0;
  at(s.h, 2, 2, 3).z = 100.0;
  EXPECT_EQ(node_energy(s, 2, 2, 2), 14.0 * half_volume);
}

TEST(Kernels, TotalEnergyIsTheOrderedSumOfNodeEnergies) {
  for (const std::uint64_t n : {1u, 2u, 9u, 24u}) {
    std::mt19937_64 rng(100 + n);
    FieldState s = make_state(n);
    fill_random(s.e, rng);
    fill_random(s.h, rng);
    double sum = 0.0;
    for (std::uint64_t x = 2; x < s.e.edge - 1; ++x)
      for (std::uint64_t y = 2; y < s.e.edge - 1; ++y)
        for (std::uint64_t z = 2; z < s.e.edge - 1; ++z)
          sum = sum + node_energy(s, x, y, z);
    const double total = total_energy(s);
    EXPECT_EQ(std::memcmp(&sum, &total, sizeof sum), 0) << n << ": " << sum << " vs " << total;
    if (n <= 1) {
      EXPECT_EQ(total, 0.0);
    }
  }
}

} // namespace
} // namespace velto
