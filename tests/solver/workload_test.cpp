#include "solver/workload.hpp"

#include "solver/recording_allocator.hpp"
#include "solver/soft_gaussian.hpp"
#include "solver/standing_wave.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace velto {
namespace {

using testing::RecordingAllocator;

FieldConfig config_for(std::uint64_t n, bool large = false) {
  return FieldConfig{large, n, 0.01};
}

TEST(MakeWorkload, ExactNamesOnly) {
  struct Case {
    std::string name;
    int kind; // 0 none, 1 standing wave, 2 soft gaussian
  };
  const Case cases[] = {
      {"standing_wave", 1},
      {"soft_gaussian", 2},
      {"Standing_wave", 0},
      {"Soft_gaussian", 0},
      {"standing_wave ", 0},
      {" soft_gaussian", 0},
      {"", 0},
      {"standing", 0},
      {std::string("standing_wave\0", 14), 0},
  };
  for (const Case& c : cases) {
    const std::optional<WorkloadKind> kind = choice_named(workload_table, c.name);
    const auto w = kind ? make_workload(*kind, 4) : nullptr;
    EXPECT_EQ(w != nullptr, c.kind != 0) << '"' << c.name << '"';
    EXPECT_EQ(dynamic_cast<StandingWave*>(w.get()) != nullptr, c.kind == 1) << c.name;
    EXPECT_EQ(dynamic_cast<SoftGaussian*>(w.get()) != nullptr, c.kind == 2) << c.name;
    if (w) {
      EXPECT_EQ(w->thread_index(), 4u);
      EXPECT_FALSE(static_cast<FieldSolver&>(*w).allocated());
    }
  }
}

TEST(FieldSolver, AllocatesTwoClearedGridsAndCounts2NCubedUpdates) {
  RecordingAllocator allocator;
  const bool large = false;
  StandingWave w(0, allocator);
  EXPECT_EQ(w.allocate(config_for(64, large)), std::nullopt);
  EXPECT_TRUE(w.allocated());
  EXPECT_EQ(w.updates_per_step(), 524288u);
  EXPECT_EQ(allocator.live(), 2u);
  for (const FieldGrid* g : {&w.state().e, &w.state().h}) {
    ASSERT_EQ(g->nodes.count(), 287496u);
    for (std::size_t i = 0; i < g->nodes.count(); ++i) {
      const FieldNode& n = g->nodes.data()[i];
      ASSERT_TRUE(n.x == 0.0 && n.y == 0.0 && n.z == 0.0 && n.w == 0.0) << i;
    }
  }
}

TEST(FieldSolver, PartialAllocationFailsAndStillReleasesWhatItGot) {
  struct Case {
    const char* what;
    std::set<int> failing;
    bool e_held;
    bool h_held;
  };
  const Case cases[] = {
      {"E refused", {0}, false, true},
      {"H refused", {1}, true, false},
      {"both refused", {0, 1}, false, false},
  };
  for (const Case& c : cases) {
    RecordingAllocator allocator(c.failing);
    {
      SoftGaussian w(0, allocator);
      EXPECT_EQ(w.allocate(config_for(16)), "field allocation failed") << c.what;
      EXPECT_TRUE(w.allocated()) << c.what;
      EXPECT_EQ(!w.state().e.nodes.empty(), c.e_held) << c.what;
      EXPECT_EQ(!w.state().h.nodes.empty(), c.h_held) << c.what;
      EXPECT_EQ(allocator.live(), std::size_t{c.e_held} + std::size_t{c.h_held}) << c.what;
    }
    EXPECT_EQ(allocator.live(), 0u) << c.what;
    EXPECT_EQ(allocator.mismatched_releases(), 0) << c.what;
  }
}

TEST(FieldSolver, SecondAllocateReplacesTheFirstPair) {
  RecordingAllocator allocator;
  const bool large = true;
  StandingWave w(0, allocator);
  ASSERT_EQ(w.allocate(config_for(8, large)), std::nullopt);
  const FieldNode* first_e = w.state().e.nodes.data();
  const FieldNode* first_h = w.state().h.nodes.data();
  ASSERT_EQ(w.allocate(config_for(12, large)), std::nullopt);
  EXPECT_EQ(allocator.live(), 2u);
  EXPECT_TRUE(allocator.is_live(w.state().e.nodes.data()));
  EXPECT_TRUE(allocator.is_live(w.state().h.nodes.data()));
  ASSERT_EQ(allocator.released().size(), 2u);
  // H goes back before E.
  EXPECT_EQ(allocator.released()[0], first_h);
  EXPECT_EQ(allocator.released()[1], first_e);
  EXPECT_EQ(w.state().e.edge, 14u);
  EXPECT_EQ(allocator.mismatched_releases(), 0);
  for (const auto& request : allocator.requests()) {
    EXPECT_TRUE(request.large_pages);
  }
}

TEST(FieldSolver, StepOnAGridWithoutInteriorReportsTheHStep) {
  StandingWave w(7);
  ASSERT_EQ(w.allocate(config_for(0)), std::nullopt);
  EXPECT_EQ(w.step(), "solver H step error in thread 7");
  StandingWave ok(7);
  ASSERT_EQ(ok.allocate(config_for(1)), std::nullopt);
  EXPECT_EQ(ok.step(), std::nullopt);
}

TEST(FieldSolver, SizeThatPassesTheLimitsButNotTheAddressSpaceFailsCleanly) {
  if (SIZE_MAX != UINT32_MAX) {
    GTEST_SKIP() << "two fields of N = 448 fit a 64-bit address space";
  }
  ASSERT_EQ(check_grid_size(448), GridSizeLimit::ok);
  StandingWave w(0);
  EXPECT_EQ(w.allocate(config_for(448)), "field allocation failed");
}

} // namespace
} // namespace velto
