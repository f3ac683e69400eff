#include "platform/affinity.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace velto {
namespace {

TEST(Affinity, GroupMaskIsOneBitWithinThePointerWidth) {
  constexpr std::uint32_t kWidth = sizeof(void*) * 8;
  struct Case {
    std::uint32_t os;
    std::uint64_t mask;
  };
  const Case cases[] = {
      {0, 0x1},    {7, 0x80},   {31, 0x80000000}, {kWidth - 1, std::uint64_t{1} << (kWidth - 1)},
      {kWidth, 0}, {63 + 1, 0}, {UINT32_MAX, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(group_affinity_mask(c.os), c.mask) << c.os;
  }
}

} // namespace
} // namespace velto
