#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace velto {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(MemoryLedger, BudgetKeepsAMarginAndAnUnknownFigureLimitsNothing) {
  struct Case {
    std::uint64_t available;
    std::uint64_t budget;
  };
  const Case cases[] = {
      {0, UINT64_MAX},                     // the query failed
      {100 * kMiB, 0},                     // less than the smallest margin
      {128 * kMiB, 0},                     //
      {1 * kGiB, 1 * kGiB - 128 * kMiB},   // the smallest margin
      {8 * kGiB, 8 * kGiB - 256 * kMiB},   // 1/32
      {24 * kGiB, 24 * kGiB - 768 * kMiB}, //
      {256 * kGiB, 256 * kGiB - 1 * kGiB}, // the largest margin
      {UINT64_MAX, UINT64_MAX - 1 * kGiB}, //
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ledger_budget(c.available), c.budget) << c.available;
  }
}

TEST(MemoryLedger, ChargeCoversWholePagesAndBookkeeping) {
  struct Case {
    std::uint64_t size;
    std::uint64_t charge;
  };
  const Case cases[] = {
      {0, 4096},
      {1, 8192},
      {4096, 8192},
      {4097, 12288},
      {2916000000, 2916003840 + 4096}, // one field of N = 448
      {UINT64_MAX - 4096, UINT64_MAX}, // beyond any budget, not wrapped to a small figure
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ledger_charge(c.size), c.charge) << c.size;
  }
}

TEST(MemoryLedger, RequestsNearTheTopOfTheSizeTypeNeverReachTheAllocator) {
  // N = 448 passes the grid-size limits of a 32-bit build: each field is
  // 450³ × 32 bytes, which a 32-bit request can carry, while the two fields
  // together cannot fit a 32-bit address space, so the second (if not the
  // first) allocation fails and the run ends in "field allocation failed".
  const std::uint64_t field = std::uint64_t{450} * 450 * 450 * 32;
  EXPECT_EQ(field, 2916000000u);
  EXPECT_TRUE(block_request_fits(field, UINT32_MAX));
  EXPECT_GT(2 * field, std::uint64_t{UINT32_MAX});
  struct Case {
    std::uint64_t size;
    std::uint64_t size_max;
    bool fits;
  };
  const Case cases[] = {
      {UINT32_MAX - 256, UINT32_MAX, true}, {UINT32_MAX - 255, UINT32_MAX, false},
      {UINT32_MAX, UINT32_MAX, false},      {UINT32_MAX, UINT64_MAX, true},
      {UINT64_MAX - 10, UINT64_MAX, false}, {0, UINT32_MAX, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(block_request_fits(c.size, c.size_max), c.fits) << c.size << " / " << c.size_max;
  }
}

TEST(MemoryLedger, ReservesUpToTheBudgetAndReleasesGiveItBack) {
  // 128 MiB of margin leaves room for exactly three 100 MiB blocks.
  MemoryLedger ledger([] { return 128 * kMiB + 300 * kMiB; });
  EXPECT_TRUE(ledger.reserve(100 * kMiB));
  EXPECT_TRUE(ledger.reserve(100 * kMiB));
  EXPECT_TRUE(ledger.reserve(100 * kMiB));
  EXPECT_FALSE(ledger.reserve(1));
  EXPECT_EQ(ledger.reserved(), 300 * kMiB);
  ledger.release(100 * kMiB);
  EXPECT_FALSE(ledger.reserve(100 * kMiB + 1));
  EXPECT_TRUE(ledger.reserve(100 * kMiB));
  EXPECT_FALSE(ledger.reserve(UINT64_MAX)); // must not wrap past the budget
}

TEST(MemoryLedger, AvailableMemoryIsSampledEachTimeTheLedgerLeavesEmpty) {
  std::uint64_t available = 128 * kMiB + 10 * kMiB;
  int queries = 0;
  MemoryLedger ledger([&] {
    ++queries;
    return available;
  });
  ASSERT_TRUE(ledger.reserve(6 * kMiB));
  // What the first block took is already missing from a fresh figure; it must
  // not be counted twice while the ledger holds something.
  available -= 6 * kMiB;
  EXPECT_TRUE(ledger.reserve(4 * kMiB));
  EXPECT_EQ(queries, 1);
  ledger.release(4 * kMiB);
  ledger.release(6 * kMiB);
  EXPECT_EQ(ledger.reserved(), 0u);
  EXPECT_FALSE(ledger.reserve(5 * kMiB)); // the new figure leaves 4 MiB
  EXPECT_EQ(queries, 2);
  EXPECT_TRUE(ledger.reserve(4 * kMiB));
}

TEST(MemoryLedger, AFailedQueryDoesNotBlockAllocation) {
  MemoryLedger ledger([] { return std::uint64_t{0}; });
  EXPECT_TRUE(ledger.reserve(64 * kGiB));
  EXPECT_TRUE(ledger.reserve(UINT64_MAX - 64 * kGiB));
  EXPECT_FALSE(ledger.reserve(1)); // the count itself never wraps
}

TEST(MemoryLedger, ConcurrentReservationsNeverExceedTheBudget) {
  constexpr int kThreads = 16;
  constexpr std::uint64_t kBlock = 10 * kMiB;
  MemoryLedger ledger([] { return 128 * kMiB + 5 * kBlock + kBlock / 2; });
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> granted{0};
    std::atomic<bool> over_budget{false};
    std::atomic<int> asked{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        const bool got = ledger.reserve(kBlock);
        if (got) {
          ++granted;
          if (ledger.reserved() > 5 * kBlock + kBlock / 2) {
            over_budget = true;
          }
        }
        // Every block is held while the others ask. A spin rather than
        // std::barrier, whose wait can miss a wake-up on the Windows toolchain.
        asked.fetch_add(1);
        while (asked.load() < kThreads) {
          std::this_thread::yield();
        }
        if (got) {
          ledger.release(kBlock);
        }
      });
    }
    for (auto& t : threads) {
      t.join();
    }
    EXPECT_EQ(granted.load(), 5) << round;
    EXPECT_FALSE(over_budget.load()) << round;
    EXPECT_EQ(ledger.reserved(), 0u) << round;
  }
}

// The charged allocation alloc_aligned routes the OS's heap blocks through,
// with a ledger of a chosen figure.
void* allocate_block(std::size_t size) {
  return std::malloc(size);
}
void release_block(void* block) {
  std::free(block);
}

TEST(ChargedAllocation, BlocksBeyondTheBudgetFailAtAllocationFromAnyThread) {
  constexpr std::size_t kBlock = 1 << 20;
  const std::uint64_t charge = ledger_charge(kBlock);
  MemoryLedger ledger([=] { return 128 * kMiB + 5 * charge; });
  constexpr int kThreads = 12;
  std::vector<void*> blocks(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&ledger, &blocks, i] {
      blocks[static_cast<std::size_t>(i)] =
          charged_allocation(ledger, kBlock, allocate_block, release_block);
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  int granted = 0;
  void* kept = nullptr;
  for (void* block : blocks) {
    if (block != nullptr) {
      ++granted;
      static_cast<unsigned char*>(block)[kBlock - 1] = 1;
      kept = block;
    }
  }
  EXPECT_EQ(granted, 5);
  EXPECT_EQ(ledger.reserved(), 5 * charge);
  EXPECT_EQ(charged_allocation(ledger, kBlock, allocate_block, release_block), nullptr);

  // A freed block's charge comes back and is granted again.
  charged_release(ledger, kept, release_block);
  void* again = charged_allocation(ledger, kBlock, allocate_block, release_block);
  EXPECT_NE(again, nullptr);
  charged_release(ledger, again, release_block);
  for (void* block : blocks) {
    if (block != kept) {
      charged_release(ledger, block, release_block);
    }
  }
  EXPECT_EQ(ledger.reserved(), 0u);
}

TEST(ChargedAllocation, UnknownAvailableMemoryLeavesTheDecisionToTheSystem) {
  MemoryLedger ledger([] { return std::uint64_t{0}; });
  void* block = charged_allocation(ledger, 64 * kMiB, allocate_block, release_block);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ledger.reserved(), ledger_charge(64 * kMiB));
  charged_release(ledger, block, release_block);
  EXPECT_EQ(ledger.reserved(), 0u);
}

TEST(ChargedAllocation, TheLedgerRemembersEachBlockUntilItIsReleased) {
  MemoryLedger ledger([] { return std::uint64_t{0}; });
  void* block = charged_allocation(ledger, 3 * kMiB, allocate_block, release_block);
  ASSERT_NE(block, nullptr);
  const std::optional<MemoryLedger::Block> held = ledger.forget(block);
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->size, 3 * kMiB);
  EXPECT_EQ(held->charge, ledger_charge(3 * kMiB));
  EXPECT_FALSE(ledger.forget(block).has_value()); // forgotten once
  ledger.remember(block, *held);
  charged_release(ledger, block, release_block);
  EXPECT_EQ(ledger.reserved(), 0u);
  EXPECT_FALSE(ledger.forget(block).has_value());
}

TEST(MemoryLedger, UnchargedBlocksAreRememberedWithoutTakingTheBudget) {
  // Linux's hugetlb mappings: the kernel reserves them, the ledger only keeps
  // their lengths for munmap.
  MemoryLedger ledger([] { return 200 * kMiB; });
  int mapping = 0;
  ledger.remember(&mapping, {4 * kMiB, 0});
  EXPECT_EQ(ledger.reserved(), 0u);
  const std::optional<MemoryLedger::Block> held = ledger.forget(&mapping);
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->size, 4 * kMiB);
  EXPECT_EQ(held->charge, 0u);
  EXPECT_EQ(ledger.reserved(), 0u);
}

TEST(ChargedAllocation, TheProcessLedgerChargesAlignedBlocks) {
  const std::uint64_t before = process_memory_ledger().reserved();
  void* block = alloc_aligned(kMiB);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(process_memory_ledger().reserved(), before + ledger_charge(kMiB));
  free_aligned(block);
  EXPECT_EQ(process_memory_ledger().reserved(), before);
}

TEST(MemoryLedger, AKeptSampleMeasuresTheNextBusyPeriod) {
  // The sample the automatic thread count is taken from is the one the run's
  // first field is then measured against, even if the figure moves in between.
  std::uint64_t figure = 0;
  MemoryLedger ledger([&figure] { return figure; });
  const std::uint64_t field = 445 * kMiB;
  figure = 4 * ledger_charge(field) + (std::uint64_t{128} << 20);
  EXPECT_EQ(ledger.sample_available(), figure);
  figure = 0; // another program took it all; the kept sample still rules
  EXPECT_TRUE(ledger.reserve(ledger_charge(field)));
  EXPECT_TRUE(ledger.reserve(ledger_charge(field)));
  EXPECT_TRUE(ledger.reserve(ledger_charge(field)));
  EXPECT_TRUE(ledger.reserve(ledger_charge(field)));
  EXPECT_FALSE(ledger.reserve(ledger_charge(field)));
  ledger.release(4 * ledger_charge(field));
  // The sample served one busy period; the next one samples afresh.
  figure = 0;
  EXPECT_TRUE(ledger.reserve(std::uint64_t{1} << 40));
}

} // namespace
} // namespace velto
