#include "platform/affinity.hpp"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <thread>
#include <vector>

namespace velto {
namespace {

std::vector<int> allowed_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> processors;
  if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &set)) {
        processors.push_back(cpu);
      }
    }
  }
  return processors;
}

TEST(AffinityLinux, PinsTheCallingThreadToOneProcessor) {
  const std::vector<int> allowed = allowed_processors();
  ASSERT_FALSE(allowed.empty());
  EXPECT_GE(logical_processor_count(), allowed.size());
  // A thread of its own, so the test runner keeps its affinity.
  std::thread([&] {
    for (const int cpu : allowed) {
      set_current_thread_affinity(static_cast<std::uint16_t>(cpu / 64),
                                  group_affinity_mask(static_cast<std::uint32_t>(cpu % 64)));
      EXPECT_EQ(allowed_processors(), std::vector<int>{cpu});
    }
    // An empty mask leaves the thread where it was.
    set_current_thread_affinity(0, 0);
    EXPECT_EQ(allowed_processors(), std::vector<int>{allowed.back()});
  }).join();
  EXPECT_EQ(allowed_processors(), allowed);
}

} // namespace
} // namespace velto
