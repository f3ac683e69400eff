#include "platform/topology_records.hpp"

#include "support/topology_builders.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velto {
namespace {

using testing::core;
using testing::l3;
using testing::node;

// Writes SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX records as a process with
// `pointer_size`-byte pointers receives them.
class InformationBuffer {
public:
  explicit InformationBuffer(std::size_t pointer_size) : pointer_size_(pointer_size) {}

  InformationBuffer& core(std::uint8_t efficiency_class, const std::vector<GroupAffinity>& masks,
                          std::optional<std::uint16_t> group_count = std::nullopt) {
    std::vector<std::byte> body(24);
    body[1] = std::byte{efficiency_class};
    put(body, 22, group_count.value_or(static_cast<std::uint16_t>(masks.size())), 2);
    return record(0, body, masks);
  }

  InformationBuffer& numa(std::uint32_t number, const std::vector<GroupAffinity>& masks,
                          std::uint16_t group_count) {
    std::vector<std::byte> body(24);
    put(body, 0, number, 4);
    put(body, 22, group_count, 2);
    return record(1, body, masks);
  }

  InformationBuffer& cache(std::uint8_t level, const std::vector<GroupAffinity>& masks,
                           std::uint16_t group_count) {
    std::vector<std::byte> body(32);
    body[0] = std::byte{level};
    put(body, 30, group_count, 2);
    return record(2, body, masks);
  }

  /// A record of another relationship (packages, groups) with `body_size` bytes.
  InformationBuffer& other(std::uint32_t relationship, std::size_t body_size) {
    return record(relationship, std::vector<std::byte>(body_size, std::byte{0xff}), {});
  }

  /// Overwrites the Size of the record that starts at `offset`.
  InformationBuffer& resize_record(std::size_t offset, std::uint32_t size) {
    put(bytes_, offset + 4, size, 4);
    return *this;
  }

  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::byte>& bytes() const { return bytes_; }

private:
  static void put(std::vector<std::byte>& out, std::size_t offset, std::uint64_t value,
                  std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
      out[offset + i] = static_cast<std::byte>(value >> (8 * i));
    }
  }

  InformationBuffer& record(std::uint32_t relationship, std::vector<std::byte> body,
                            const std::vector<GroupAffinity>& masks) {
    for (const GroupAffinity& mask : masks) {
      std::vector<std::byte> entry(pointer_size_ + 8);
      put(entry, 0, mask.mask, pointer_size_);
      put(entry, pointer_size_, mask.group, 2);
      body.insert(body.end(), entry.begin(), entry.end());
    }
    std::vector<std::byte> header(8);
    put(header, 0, relationship, 4);
    put(header, 4, header.size() + body.size(), 4);
    bytes_.insert(bytes_.end(), header.begin(), header.end());
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return *this;
  }

  std::size_t pointer_size_;
  std::vector<std::byte> bytes_;
};

TopologyRecords parse(const InformationBuffer& buffer, std::size_t pointer_size) {
  // An exact-size copy, so a read past the end is a read past the allocation.
  const std::vector<std::byte> exact(buffer.bytes());
  return parse_processor_information(exact, pointer_size);
}

TEST(TopologyRecords, ReadsCoresNodesAndLevel3CachesOfBothPointerWidths) {
  for (const std::size_t pointer_size : {std::size_t{4}, std::size_t{8}}) {
    const std::uint64_t top_bit = std::uint64_t{1} << (pointer_size * 8 - 1);
    InformationBuffer buffer(pointer_size);
    buffer.core(1, {{0xc0, 0}})
        .core(0, {{top_bit | 1, 0}, {0x5, 1}})
        .other(4, 48) // RelationGroup
        .numa(2, {{0xff, 0}}, 0)
        .numa(5, {{0xf0, 0}, {0x3, 1}}, 2)
        .cache(2, {{0xc0, 0}}, 0)
        .cache(3, {{0xff, 0}}, 0)
        .cache(3, {{0xff, 0}, {0x1, 1}}, 2)
        .other(3, 24); // RelationProcessorPackage
    const TopologyRecords records = parse(buffer, pointer_size);
    EXPECT_EQ(records.mask_width, pointer_size * 8);
    const std::vector<TopologyRecord> expected = {
        core(1, {{0xc0, 0}}), core(0, {{top_bit | 1, 0}, {0x5, 1}}),
        node(2, {{0xff, 0}}), node(5, {{0xf0, 0}, {0x3, 1}}),
        l3({{0xff, 0}}),      l3({{0xff, 0}, {0x1, 1}}),
    };
    EXPECT_EQ(records.records, expected) << "pointer size " << pointer_size;
  }
}

TEST(TopologyRecords, MalformedBuffersAreNeverReadOutOfBounds) {
  constexpr std::size_t kPointer = 8;
  const std::size_t core_size = 32 + 16; // one core record with one mask
  struct Case {
    const char* name;
    InformationBuffer buffer;
    std::vector<TopologyRecord> expected;
  };
  const std::vector<TopologyRecord> first_only = {core(0, {{0x1, 0}})};
  std::vector<Case> cases;
  cases.push_back({"empty buffer", InformationBuffer(kPointer), {}});
  cases.push_back({"Size 0 ends the walk",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}})
                       .core(0, {{0x2, 0}})
                       .resize_record(core_size, 0)
                       .core(0, {{0x4, 0}}),
                   first_only});
  cases.push_back({"Size smaller than the header ends the walk",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}})
                       .core(0, {{0x2, 0}})
                       .resize_record(core_size, 7),
                   first_only});
  cases.push_back({"Size beyond the buffer ends the walk",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}})
                       .core(0, {{0x2, 0}})
                       .resize_record(core_size, 4096),
                   first_only});
  cases.push_back({"Size that wraps the offset ends the walk",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}})
                       .core(0, {{0x2, 0}})
                       .resize_record(core_size, 0xfffffff8),
                   first_only});
  cases.push_back({"records too short for their fields are skipped",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}})
                       .other(0, 8)  // core without GroupCount
                       .other(1, 20) // node without GroupMask
                       .other(2, 1)  // cache with only its level byte
                       .core(0, {{0x4, 0}}),
                   {core(0, {{0x1, 0}}), core(0, {{0x4, 0}})}});
  cases.push_back({"group counts are clamped to the masks that fit",
                   InformationBuffer(kPointer)
                       .core(0, {{0x1, 0}}, 5)
                       .numa(1, {{0x1, 0}, {0x2, 1}}, 300)
                       .cache(3, {}, 2),
                   {core(0, {{0x1, 0}}), node(1, {{0x1, 0}, {0x2, 1}}), l3({})}});
  cases.push_back({"a core with GroupCount 0 has no processors",
                   InformationBuffer(kPointer).core(0, {{0x1, 0}}, 0),
                   {core(0, {})}});
  for (Case& c : cases) {
    EXPECT_EQ(parse(c.buffer, kPointer).records, c.expected) << c.name;
  }

  // A header cut short at the end of the buffer is ignored.
  std::vector<std::byte> truncated(InformationBuffer(kPointer).core(0, {{0x1, 0}}).bytes());
  truncated.resize(truncated.size() + 5, std::byte{0x10});
  EXPECT_EQ(parse_processor_information(truncated, kPointer).records, first_only);
}

TEST(TopologyRecords, UnknownPointerWidthYieldsNoRecords) {
  const InformationBuffer buffer = InformationBuffer(8).core(0, {{0x1, 0}});
  for (const std::size_t pointer_size : {std::size_t{0}, std::size_t{2}, std::size_t{16}}) {
    EXPECT_TRUE(parse(buffer, pointer_size).records.empty()) << pointer_size;
  }
}

TEST(TopologyRecords, ParsedBufferBuildsTheTree) {
  // Two nodes of a 32-bit view, one level-3 cache each, two cores each.
  InformationBuffer buffer(4);
  buffer.core(0, {{0x1, 0}})
      .core(0, {{0x2, 0}})
      .core(0, {{0x4, 0}})
      .core(0, {{0x8, 0}})
      .numa(0, {{0x3, 0}}, 0)
      .numa(1, {{0xc, 0}}, 0)
      .cache(3, {{0x3, 0}}, 0)
      .cache(3, {{0xc, 0}}, 0);
  const Topology topology = build_topology(parse(buffer, 4));
  ASSERT_EQ(topology.nodes.size(), 2u);
  EXPECT_EQ(topology.nodes[1].id, 1u);
  ASSERT_EQ(topology.nodes[1].llcs.size(), 1u);
  EXPECT_EQ(topology.nodes[1].llcs[0].id, 1u);
  ASSERT_EQ(topology.nodes[1].llcs[0].cores.size(), 2u);
  EXPECT_EQ(topology.nodes[1].llcs[0].cores[0].id, 2u);
  EXPECT_EQ(topology.nodes[1].llcs[0].cores[1].logicals.at(0).os, 3u);
}

} // namespace
} // namespace velto
