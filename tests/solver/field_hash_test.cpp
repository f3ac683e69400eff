#include "solver/field_hash.hpp"

#include "solver/workload.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velto {
namespace {

TEST(FieldHash, OneFlippedBitAnywhereInEitherBlockChangesTheHash) {
  constexpr std::size_t n = 8;
  constexpr std::size_t edge = n + 2;
  constexpr auto node = [](std::size_t x, std::size_t y, std::size_t z) {
    return (x * edge + y) * edge + z;
  };
  struct Case {
    const char* where;
    bool in_h;
    std::size_t node;
    std::size_t byte; ///< of the node's 32; 24..31 are the fourth component
    int bit;
  };
  const Case cases[] = {
      {"E's first node, a corner of the faces", false, node(0, 0, 0), 0, 0},
      {"E interior node, sign of y", false, node(4, 5, 6), 15, 7},
      {"E interior node, fourth component", false, node(4, 5, 6), 24, 3},
      {"H face node of the x = N + 1 plane", true, node(edge - 1, 3, 4), 17, 1},
      {"H interior node, z", true, node(5, 4, 3), 20, 5},
      {"H's last node, fourth component: the stream's last byte", true, node(n + 1, n + 1, n + 1),
       31, 6},
  };
  FieldState state(FieldConfig{false, n, run_dx});
  // Every byte distinct from its neighbours, so no flip can land on a pattern
  // that repeats.
  for (FieldGrid* grid : {&state.e, &state.h}) {
    auto* bytes = reinterpret_cast<unsigned char*>(grid->nodes.data());
    for (std::size_t i = 0; i < grid->nodes.count() * sizeof(FieldNode); ++i) {
      bytes[i] = static_cast<unsigned char>(i * 131 + (grid == &state.h ? 7 : 0));
    }
  }
  const std::optional<std::uint64_t> original = field_hash(state);
  ASSERT_TRUE(original);
  for (const Case& c : cases) {
    FieldGrid& grid = c.in_h ? state.h : state.e;
    auto* byte = reinterpret_cast<unsigned char*>(grid.nodes.data() + c.node) + c.byte;
    *byte = static_cast<unsigned char>(*byte ^ (1u << c.bit));
    EXPECT_NE(field_hash(state), original) << c.where;
    *byte = static_cast<unsigned char>(*byte ^ (1u << c.bit));
    EXPECT_EQ(field_hash(state), original) << c.where;
  }
}

TEST(FieldHash, FieldsThatAreNotReadyHaveNoHash) {
  EXPECT_EQ(field_hash(FieldState()), std::nullopt);
}

} // namespace
} // namespace velto
