// The known-answer table recomputed from nothing with the build's own kernels:
// a stability test is only as good as its answers being the same bits on
// every machine and in every build. The size-64 entries are proven in every
// build; the larger ones, seconds each, natively in the heavy test.
#include "solver/known_answers.hpp"

#include "support/segment_hash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace velto {
namespace {

void expect_recomputed(bool (*chosen)(const KnownAnswer&)) {
  int proven = 0;
  for (const KnownAnswer& entry : known_answers()) {
    if (!chosen(entry)) {
      continue;
    }
    SCOPED_TRACE(std::string(name_of_choice(workload_table, entry.workload)) + " at " +
                 std::to_string(entry.grid_size) + ", " + std::to_string(entry.steps) + " steps");
    const SegmentHash result = segment_hash(entry.workload, entry.grid_size, entry.steps);
    ASSERT_TRUE(result.hash) << result.failure;
    EXPECT_EQ(*result.hash, entry.hash) << std::hex << "computed 0x" << *result.hash;
    ++proven;
  }
  EXPECT_GT(proven, 0);
}

TEST(KnownAnswers, HoldBothWorkloadsAtEachSizeOnce) {
  EXPECT_EQ(known_answers().size(), 8u);
  for (const auto& [kind, name] : workload_table) {
    for (const std::uint64_t size : {64u, 128u, 192u, 256u}) {
      int found = 0;
      for (const KnownAnswer& entry : known_answers()) {
        found += entry.workload == kind && entry.grid_size == size ? 1 : 0;
      }
      EXPECT_EQ(found, 1) << name << " at " << size;
    }
  }
}

TEST(KnownAnswers, EntriesAt64AreRecomputedBitForBit) {
  expect_recomputed([](const KnownAnswer& entry) { return entry.grid_size == 64; });
}

// Run by the ctest entry velto_known_answers_heavy, natively only.
TEST(KnownAnswersHeavy, LargerEntriesAreRecomputedBitForBit) {
  if (std::getenv("VELTO_HEAVY") == nullptr) {
    GTEST_SKIP() << "set VELTO_HEAVY=1 to recompute the entries above 64";
  }
  expect_recomputed([](const KnownAnswer& entry) { return entry.grid_size > 64; });
}

} // namespace
} // namespace velto
