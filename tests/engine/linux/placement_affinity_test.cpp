#include "engine/placement.hpp"

#include <gtest/gtest.h>

#include <sched.h>

#include <thread>
#include <vector>

namespace velto {
namespace {

// The processors the calling thread may run on.
std::vector<int> current_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof(set), &set) != 0) {
    return cpus;
  }
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) {
      cpus.push_back(cpu);
    }
  }
  return cpus;
}

// Each case runs on a thread of its own so the test process stays unpinned.
TEST(PlacementAffinity, ThreadsTakeTheirEntryOrStayAsTheyWere) {
  const std::vector<int> initial = current_cpus();
  ASSERT_FALSE(initial.empty());
  const int last = initial.back();
  const PlacementPlan plan = {LogicalProcessor{0, 0, static_cast<std::uint32_t>(last), 0},
                              LogicalProcessor{0, 1, 100, 0}};
  struct Case {
    std::uint32_t index;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {0, {last}},  // pinned to its entry
      {1, initial}, // processor 100 lies beyond a group's mask: left alone
      {2, initial}, // no entry: unpinned
      {3, initial},
  };
  for (const Case& c : cases) {
    std::vector<int> seen;
    std::thread([&] {
      apply_placement(live_machine(), plan, c.index);
      seen = current_cpus();
    }).join();
    EXPECT_EQ(seen, c.expected) << c.index;
  }
}

} // namespace
} // namespace velto
