#include "platform/format.hpp"
#include "platform/memory.hpp"
#include "platform/memory_os.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

namespace velto {
namespace {

TEST(MemoryFormat, BytesAndQuantitiesAsTheConsoleShowsThem) {
  struct Case {
    std::uint64_t value;
    const char* bytes;
  };
  const Case byte_cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.00 KiB"},
      {1536, "1.50 KiB"},
      {18399744, "17.55 MiB"},
      {1073741824, "1.00 GiB"},
      {UINT64_MAX, "16.00 EiB"},
  };
  for (const auto& c : byte_cases) {
    EXPECT_EQ(format_bytes(c.value), c.bytes) << c.value;
  }
  const Case quantity_cases[] = {
      {0, "0 Hz"},
      {999, "999 Hz"},
      {1000, "1.00 KHz"},
      {10000000, "10.00 MHz"},
      {2994000000, "2.99 GHz"},
      {UINT64_MAX, "18.45 EHz"},
  };
  for (const auto& c : quantity_cases) {
    EXPECT_EQ(format_quantity(c.value, "Hz"), c.bytes) << c.value;
  }
  EXPECT_EQ(format_quantity(1500, ""), "1.50 K");
}

TEST(MemoryLargePages, RequestsRoundUpToWholePages) {
  constexpr std::size_t kTwoMiB = 2u << 20;
  struct Case {
    std::size_t size;
    std::size_t page;
    std::size_t rounded;
  };
  const Case cases[] = {
      {1, kTwoMiB, kTwoMiB},
      {kTwoMiB, kTwoMiB, kTwoMiB},
      {kTwoMiB + 1, kTwoMiB, 2 * kTwoMiB},
      {0, kTwoMiB, 0},
      {1, 0, 0}, // no large pages: every request fails
      {SIZE_MAX, 0, 0},
      {SIZE_MAX - 5, kTwoMiB, 0}, // rounding would wrap around the address space
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_up_to_page(c.size, c.page), c.rounded) << c.size << " / " << c.page;
  }
}

TEST(MemoryLargePages, ReleasingNullDoesNothing) {
  free_large_pages(nullptr);
  free_aligned(nullptr);
  SUCCEED();
}

TEST(MemoryLargePages, AllocationMatchesTheSystemsPageSize) {
  const std::size_t page = init_large_pages();
  void* block = alloc_large_pages(1);
  if (page == 0) {
    EXPECT_EQ(block, nullptr); // no fallback to ordinary pages
    return;
  }
  if (block == nullptr) {
    GTEST_SKIP() << "the system has large pages but none to spare for this process";
  }
  // The whole rounded page is committed and writable.
  auto* bytes = static_cast<unsigned char*>(block);
  bytes[0] = 1;
  bytes[page - 1] = 2;
  EXPECT_EQ(bytes[page - 1], 2);
  free_large_pages(block);
}

TEST(MemoryLargePages, OneTimeInitialisationGivesEveryThreadTheSameSize) {
  std::vector<std::size_t> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = init_large_pages(); });
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(std::set<std::size_t>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_EQ(seen[0], init_large_pages());
}

TEST(MemoryAligned, BlocksAre64ByteAlignedAndWritable) {
  for (std::size_t size :
       {std::size_t{1}, std::size_t{64}, std::size_t{1000}, std::size_t{1} << 20}) {
    void* block = alloc_aligned(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u) << size;
    static_cast<unsigned char*>(block)[size - 1] = 0xAB;
    free_aligned(block);
  }
}

TEST(MemoryAvailable, ReportsSomethingOnARealMachine) {
  EXPECT_GT(available_physical_memory(), 0u);
}

TEST(MemoryMeminfo, ParsesKibibyteLines) {
  const char* text = "MemTotal:       24634008 kB\n"
                     "MemFree:        23894384 kB\n"
                     "MemAvailable:   24012540 kB\n"
                     "HugePages_Total:       0\n"
                     "Hugepagesize:       2048 kB\n";
  EXPECT_EQ(parse_meminfo_bytes(text, "MemAvailable"), 24012540ull * 1024);
  EXPECT_EQ(parse_meminfo_bytes(text, "Hugepagesize"), 2048ull * 1024);
  EXPECT_EQ(parse_meminfo_bytes(text, "MemAvail"), 0u);        // a prefix is not the key
  EXPECT_EQ(parse_meminfo_bytes(text, "HugePages_Total"), 0u); // no unit
  EXPECT_EQ(parse_meminfo_bytes("", "MemAvailable"), 0u);
  EXPECT_EQ(parse_meminfo_bytes("MemAvailable: 99999999999999999999 kB\n", "MemAvailable"), 0u);
}

} // namespace
} // namespace velto
