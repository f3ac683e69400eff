#include "solver/field.hpp"

#include "solver/recording_allocator.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace velto {
namespace {

using testing::RecordingAllocator;

TEST(FieldBuffer, StaysEmptyWithoutThrowingWhenNoBlockCanBeHad) {
  struct Case {
    const char* what;
    std::size_t count;
    bool allocator_fails;
    int expected_calls;
  };
  const Case cases[] = {
      {"zero nodes", 0, false, 0},
      {"byte count overflows the size type", SIZE_MAX / 32 + 1, false, 0},
      {"largest count whose bytes fit, refused", SIZE_MAX / 32, true, 1},
      {"allocator returns null", 10, true, 1},
  };
  for (const Case& c : cases) {
    RecordingAllocator allocator(c.allocator_fails ? std::set<int>{0} : std::set<int>{});
    FieldBuffer buffer(false, c.count, allocator);
    EXPECT_TRUE(buffer.empty()) << c.what;
    EXPECT_EQ(buffer.count(), 0u) << c.what;
    EXPECT_EQ(buffer.data(), nullptr) << c.what;
    EXPECT_EQ(allocator.calls(), c.expected_calls) << c.what;
  }
}

TEST(FieldBuffer, ReleasesThroughTheServiceOfItsKindOnce) {
  for (const bool large : {false, true}) {
    RecordingAllocator allocator;
    {
      FieldBuffer first(large, 8, allocator);
      ASSERT_EQ(allocator.requests()[0].large_pages, large);
      FieldBuffer moved(std::move(first));
      EXPECT_TRUE(first.empty());
      EXPECT_EQ(first.count(), 0u);
      EXPECT_EQ(moved.count(), 8u);
      EXPECT_EQ(moved.large_pages(), large);
      FieldBuffer other(large, 4, allocator);
      other = std::move(moved); // the 4-node block goes back here
      EXPECT_EQ(allocator.live(), 1u);
      other.release();
      other.release();
      EXPECT_TRUE(other.empty());
    }
    EXPECT_EQ(allocator.live(), 0u) << large;
    EXPECT_EQ(allocator.released().size(), 2u) << large;
    EXPECT_EQ(allocator.mismatched_releases(), 0) << large;
  }
}

TEST(FieldState, BuildsBothGridsAndTheStepConstants) {
  RecordingAllocator allocator;
  const bool large = true;
  const FieldState s(FieldConfig{large, 64, 0.01}, allocator);
  EXPECT_EQ(s.e.edge, 66u);
  EXPECT_EQ(s.h.edge, 66u);
  EXPECT_EQ(s.e.nodes.count(), 287496u);
  EXPECT_EQ(s.h.nodes.count(), 287496u);
  EXPECT_TRUE(s.e.nodes.large_pages());
  EXPECT_TRUE(s.h.nodes.large_pages());
  EXPECT_EQ(s.dt, 0.005);
  EXPECT_EQ(s.coef_e, 0.5);
  EXPECT_EQ(s.coef_h, 0.5);
  EXPECT_DOUBLE_EQ(s.dV, 1e-6);
}

TEST(FieldState, NodeCountBeyondTheSizeTypeGivesEmptyGridsNotAWrappedBlock) {
  // (N + 2)³ wraps the size type here; a wrapped count would give a block far
  // smaller than the grid the kernels index.
  const std::uint64_t n = SIZE_MAX == UINT32_MAX ? 2048 : (std::uint64_t{1} << 22);
  RecordingAllocator allocator;
  const FieldState s(FieldConfig{false, n, 0.01}, allocator);
  EXPECT_TRUE(s.e.nodes.empty());
  EXPECT_TRUE(s.h.nodes.empty());
  EXPECT_EQ(allocator.calls(), 0);
}

TEST(GridSize, LimitsOfBothSizeTypeWidths) {
  struct Case {
    std::uint64_t n;
    GridSizeLimit on_32_bits;
  };
  const Case cases[] = {
      {64, GridSizeLimit::ok},
      {128, GridSizeLimit::ok},
      {192, GridSizeLimit::ok},
      {256, GridSizeLimit::ok},
      {320, GridSizeLimit::ok},
      {384, GridSizeLimit::ok},
      {448, GridSizeLimit::ok},
      {512, GridSizeLimit::memory_calculation},
      {640, GridSizeLimit::memory_calculation},
      {768, GridSizeLimit::memory_calculation},
      {1024, GridSizeLimit::memory_calculation},
      {2048, GridSizeLimit::address_space},
      {4096, GridSizeLimit::address_space},
      {8192, GridSizeLimit::address_space},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_grid_size(c.n, UINT32_MAX), c.on_32_bits) << c.n;
    EXPECT_EQ(check_grid_size(c.n, UINT64_MAX), GridSizeLimit::ok) << c.n;
  }
  // Sizes whose node count wraps 64 bits are refused rather than wrapped into range.
  EXPECT_EQ(check_grid_size(std::uint64_t{1} << 22, UINT64_MAX), GridSizeLimit::address_space);
  EXPECT_EQ(check_grid_size(UINT64_MAX, UINT64_MAX), GridSizeLimit::address_space);
}

TEST(GridSize, MemoryPerThreadIsTwoFieldsOf32ByteNodes) {
  EXPECT_EQ(memory_per_thread(64), 18399744u);
  EXPECT_EQ(memory_per_thread(192), 467288576u);
  EXPECT_EQ(memory_per_thread(256), 1099104768u);
  EXPECT_EQ(memory_per_thread(8192), 64ull * 8194 * 8194 * 8194);
}

} // namespace
} // namespace velto
