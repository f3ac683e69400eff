#include "platform/affinity.hpp"
#include "platform/win32/windows.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <thread>

namespace velto {
namespace {

TEST(AffinityWin32, AllowedProcessorsAreTheProcessMaskOnOneGroup) {
  if (GetActiveProcessorGroupCount() > 1) {
    // Several groups: no restriction, the system's count as before.
    EXPECT_TRUE(allowed_processors().empty());
    EXPECT_EQ(logical_processor_count(), std::thread::hardware_concurrency());
    return;
  }
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  ASSERT_NE(process, 0u);
  EXPECT_EQ(allowed_processors(), (ProcessorSet{{static_cast<std::uint64_t>(process), 0}}));
  EXPECT_EQ(logical_processor_count(), static_cast<std::uint32_t>(std::popcount(process)));

  // A thread pinned to one processor does not narrow the process's set.
  std::thread([&] {
    const unsigned last = static_cast<unsigned>(std::bit_width(process)) - 1;
    set_current_thread_affinity(0, group_affinity_mask(last));
    EXPECT_EQ(allowed_processors(), (ProcessorSet{{static_cast<std::uint64_t>(process), 0}}));
  }).join();
}

} // namespace
} // namespace velto
