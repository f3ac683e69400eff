#include "platform/affinity.hpp"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <thread>
#include <vector>

namespace velto {
namespace {

// The processors the calling thread may run on.
std::vector<int> current_thread_processors() {
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

// The processors of a set in the Linux numbering: processor n is bit n % 64 of group n / 64.
std::vector<int> numbers_of(const ProcessorSet& set) {
  std::vector<int> processors;
  for (const GroupAffinity& affinity : set) {
    for (int bit = 0; bit < 64; ++bit) {
      if ((affinity.mask >> bit) & 1u) {
        processors.push_back(affinity.group * 64 + bit);
      }
    }
  }
  return processors;
}

TEST(AffinityLinux, PinsTheCallingThreadToOneProcessor) {
  const std::vector<int> allowed = current_thread_processors();
  ASSERT_FALSE(allowed.empty());
  EXPECT_EQ(logical_processor_count(), allowed.size());
  // A thread of its own, so the test runner keeps its affinity.
  std::thread([&] {
    for (const int cpu : allowed) {
      set_current_thread_affinity(static_cast<std::uint16_t>(cpu / 64),
                                  group_affinity_mask(static_cast<std::uint32_t>(cpu % 64)));
      EXPECT_EQ(current_thread_processors(), std::vector<int>{cpu});
    }
    // An empty mask leaves the thread where it was.
    set_current_thread_affinity(0, 0);
    EXPECT_EQ(current_thread_processors(), std::vector<int>{allowed.back()});
  }).join();
  EXPECT_EQ(current_thread_processors(), allowed);
}

// The test runs on the main thread, whose mask is the process's.
TEST(AffinityLinux, AllowedProcessorsAreTheProcesssWhicheverThreadAsks) {
  const std::vector<int> allowed = current_thread_processors();
  ASSERT_FALSE(allowed.empty());
  EXPECT_EQ(numbers_of(allowed_processors()), allowed);
  EXPECT_EQ(logical_processor_count(), allowed.size());
  std::thread([&] {
    set_current_thread_affinity(
        static_cast<std::uint16_t>(allowed.back() / 64),
        group_affinity_mask(static_cast<std::uint32_t>(allowed.back() % 64)));
    ASSERT_EQ(current_thread_processors(), std::vector<int>{allowed.back()});
    EXPECT_EQ(numbers_of(allowed_processors()), allowed);
    EXPECT_EQ(logical_processor_count(), allowed.size());
  }).join();
}

} // namespace
} // namespace velto
