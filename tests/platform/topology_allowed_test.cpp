// The topology as a process restricted to some processors sees it (taskset,
// numactl, a container's cpuset, the Windows process mask): recorded machines
// and masks, on any host.
#include "platform/affinity.hpp"
#include "platform/topology.hpp"
#include "platform/topology_records.hpp"

#include "support/topology_builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

using testing::core;
using testing::l3;
using testing::layout;
using testing::node;

std::string restricted(const TopologyRecords& records, const ProcessorSet& allowed) {
  return layout(build_topology(restrict_to_processors(records, allowed)));
}

// Two NUMA nodes of two level-3 caches of two two-way cores, as hwloc reports
// them (cores, then nodes, then caches): core c holds processors 2c and 2c+1,
// node n processors 8n..8n+7, cache k processors 4k..4k+3.
TopologyRecords two_nodes_of_two_caches() {
  TopologyRecords records;
  for (std::uint64_t c = 0; c < 8; ++c) {
    records.records.push_back(core(0, {{std::uint64_t{0x3} << (2 * c), 0}}));
  }
  records.records.push_back(node(0, {{0xff, 0}}));
  records.records.push_back(node(1, {{0xff00, 0}}));
  for (std::uint64_t k = 0; k < 4; ++k) {
    records.records.push_back(l3({{std::uint64_t{0xf} << (4 * k), 0}}));
  }
  return records;
}

TEST(AllowedProcessors, MasksCutTheTreeOfARecordedMachine) {
  const TopologyRecords machine = two_nodes_of_two_caches();
  const std::string whole = "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] "
                            "c2@n0/l1/p0[0:4,0:5] c3@n0/l1/p0[0:6,0:7] c4@n1/l2/p0[0:8,0:9] "
                            "c5@n1/l2/p0[0:10,0:11] c6@n1/l3/p0[0:12,0:13] "
                            "c7@n1/l3/p0[0:14,0:15]";
  ASSERT_EQ(layout(build_topology(machine)), whole);
  struct Case {
    const char* name;
    ProcessorSet allowed;
    std::string expected;
  };
  const Case cases[] = {
      {"every processor", {{0xffff, 0}}, whole},
      {"a mask of nothing restricts nothing", {{0x0, 0}}, whole},
      {"no mask at all restricts nothing", {}, whole},
      {"empty masks of two groups restrict nothing", {{0x0, 0}, {0x0, 1}}, whole},
      {"one SMT sibling less: its core keeps the other as its first",
       {{0xfffe, 0}},
       "levels=1 c0@n0/l0/p0[0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l1/p0[0:4,0:5] "
       "c3@n0/l1/p0[0:6,0:7] c4@n1/l2/p0[0:8,0:9] c5@n1/l2/p0[0:10,0:11] "
       "c6@n1/l3/p0[0:12,0:13] c7@n1/l3/p0[0:14,0:15]"},
      {"a whole core less: the others keep their ids",
       {{0xfffc, 0}},
       "levels=1 c1@n0/l0/p0[0:2,0:3] c2@n0/l1/p0[0:4,0:5] c3@n0/l1/p0[0:6,0:7] "
       "c4@n1/l2/p0[0:8,0:9] c5@n1/l2/p0[0:10,0:11] c6@n1/l3/p0[0:12,0:13] "
       "c7@n1/l3/p0[0:14,0:15]"},
      {"a whole level-3 cache less: the others keep their ids",
       {{0xff0f, 0}},
       "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c4@n1/l2/p0[0:8,0:9] "
       "c5@n1/l2/p0[0:10,0:11] c6@n1/l3/p0[0:12,0:13] c7@n1/l3/p0[0:14,0:15]"},
      {"a whole NUMA node less",
       {{0xff00, 0}},
       "levels=1 c4@n1/l2/p0[0:8,0:9] c5@n1/l2/p0[0:10,0:11] c6@n1/l3/p0[0:12,0:13] "
       "c7@n1/l3/p0[0:14,0:15]"},
      {"one processor (taskset -c 1)", {{0x2, 0}}, "levels=1 c0@n0/l0/p0[0:1]"},
      {"one processor per node (taskset -c 3,12)",
       {{0x1008, 0}},
       "levels=1 c1@n0/l0/p0[0:3] c6@n1/l3/p0[0:12]"},
      {"masks of one group add up",
       {{0x3, 0}, {0x300, 0}},
       "levels=1 c0@n0/l0/p0[0:0,0:1] c4@n1/l2/p0[0:8,0:9]"},
      {"processors the machine lacks are ignored",
       {{0x10002, 0}, {0xff, 3}},
       "levels=1 c0@n0/l0/p0[0:1]"},
      {"a set that shares no processor with the machine leaves none",
       {{0xffff0000, 0}, {0x1, 1}},
       "levels=0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restricted(machine, c.allowed), c.expected) << c.name;
  }
}

// Windows numbering: node 0 in group 0 (processors 0-3), node 1 in group 1
// (processors 0-3 of that group), one level-3 cache per node, four one-way
// cores per node, reported in Windows' order (cores of a group, then its node
// and cache).
TopologyRecords two_groups() {
  TopologyRecords records;
  for (std::uint16_t group = 0; group < 2; ++group) {
    for (std::uint64_t bit = 0; bit < 4; ++bit) {
      records.records.push_back(core(0, {{std::uint64_t{1} << bit, group}}));
    }
    records.records.push_back(node(group, {{0xf, group}}));
    records.records.push_back(l3({{0xf, group}}));
  }
  return records;
}

TEST(AllowedProcessors, MasksOfTwoProcessorGroups) {
  const TopologyRecords machine = two_groups();
  const std::string whole = "levels=1 c0@n0/l0/p0[0:0] c1@n0/l0/p0[0:1] c2@n0/l0/p0[0:2] "
                            "c3@n0/l0/p0[0:3] c4@n1/l1/p0[1:0] c5@n1/l1/p0[1:1] "
                            "c6@n1/l1/p0[1:2] c7@n1/l1/p0[1:3]";
  struct Case {
    const char* name;
    ProcessorSet allowed;
    std::string expected;
  };
  const Case cases[] = {
      {"both groups whole", {{0xf, 0}, {0xf, 1}}, whole},
      {"no processor of either group", {{0x0, 0}, {0x0, 1}}, whole},
      {"the second group only",
       {{0xf, 1}},
       "levels=1 c4@n1/l1/p0[1:0] c5@n1/l1/p0[1:1] c6@n1/l1/p0[1:2] c7@n1/l1/p0[1:3]"},
      {"a mask is read in its own group only",
       {{0x1, 0}, {0x8, 1}},
       "levels=1 c0@n0/l0/p0[0:0] c7@n1/l1/p0[1:3]"},
      {"the first group only, with an empty mask for the second",
       {{0x6, 0}, {0x0, 1}},
       "levels=1 c1@n0/l0/p0[0:1] c2@n0/l0/p0[0:2]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restricted(machine, c.allowed), c.expected) << c.name;
  }

  // A node and a core that span both groups keep the part that is allowed.
  const TopologyRecords spanning{64,
                                 {core(0, {{0x3, 0}, {0x1, 1}}), node(4, {{0x3, 0}, {0x1, 1}})}};
  EXPECT_EQ(restricted(spanning, {{0x1, 1}}), "levels=1 c0@n4/l0/p0[1:0]");
  EXPECT_EQ(restricted(spanning, {{0x2, 0}, {0x1, 1}}), "levels=1 c0@n4/l0/p0[0:1,1:0]");
}

TEST(AllowedProcessors, PerformanceLevelsAreRankedAmongTheCoresLeft) {
  // Two two-way cores of class 1 (processors 0-3), four one-way of class 0 (4-7).
  const TopologyRecords hybrid{64,
                               {core(1, {{0x3, 0}}), core(1, {{0xc, 0}}), core(0, {{0x10, 0}}),
                                core(0, {{0x20, 0}}), core(0, {{0x40, 0}}), core(0, {{0x80, 0}}),
                                node(0, {{0xff, 0}}), l3({{0xff, 0}})}};
  struct Case {
    const char* name;
    ProcessorSet allowed;
    std::string expected;
  };
  const Case cases[] = {
      {"both kinds", {{0x11, 0}}, "levels=2 c0@n0/l0/p0[0:0] c2@n0/l0/p1[0:4]"},
      {"the efficient cores only are one level, level 0",
       {{0xf0, 0}},
       "levels=1 c2@n0/l0/p0[0:4] c3@n0/l0/p0[0:5] c4@n0/l0/p0[0:6] c5@n0/l0/p0[0:7]"},
      {"the first siblings of the performance cores",
       {{0x5, 0}},
       "levels=1 c0@n0/l0/p0[0:0] c1@n0/l0/p0[0:2]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restricted(hybrid, c.allowed), c.expected) << c.name;
  }
}

TEST(AllowedProcessors, RestrictedRecordsKeepTheirOrderAndOrdinals) {
  // Windows' order: caches and nodes between the cores.
  const TopologyRecords machine{64,
                                {l3({{0x3, 0}}), core(0, {{0x1, 0}}), core(0, {{0x2, 0}}),
                                 node(0, {{0x3, 0}}), l3({{0xc, 0}}), core(0, {}),
                                 core(0, {{0x4, 0}}), core(0, {{0x8, 0}}), node(1, {{0xc, 0}})}};
  const TopologyRecords kept = restrict_to_processors(machine, {{0xa, 0}});
  EXPECT_EQ(kept.mask_width, 64u);
  auto with = [](TopologyRecord record, std::uint32_t ordinal) {
    record.ordinal = ordinal;
    return record;
  };
  // The core without processors goes too, though it would otherwise be filed
  // under node 0 and cache 0.
  const std::vector<TopologyRecord> expected = {
      with(l3({{0x2, 0}}), 0), with(core(0, {{0x2, 0}}), 1), node(0, {{0x2, 0}}),
      with(l3({{0x8, 0}}), 1), with(core(0, {{0x8, 0}}), 4), node(1, {{0x8, 0}})};
  EXPECT_EQ(kept.records, expected);
  EXPECT_EQ(layout(build_topology(kept)), "levels=1 c1@n0/l0/p0[0:1] c4@n1/l1/p0[0:3]");

  // Cutting again keeps the ordinals of the whole report.
  EXPECT_EQ(layout(build_topology(restrict_to_processors(kept, {{0x8, 0}}))),
            "levels=1 c4@n1/l1/p0[0:3]");
  // Without a restriction the records come back as they were.
  EXPECT_EQ(restrict_to_processors(machine, {}).records, machine.records);
}

TEST(AllowedProcessors, BitsBeyondTheMaskWidthAreNoProcessors) {
  // A 32-bit view: bit 32 of a mask names nothing.
  const TopologyRecords narrow{32, {core(0, {{0x100000001, 0}}), core(0, {{0x100000000, 0}})}};
  EXPECT_EQ(restricted(narrow, {{0x100000001, 0}}), "levels=1 c0@n0/l0/p0[0:0]");
  EXPECT_EQ(restrict_to_processors(narrow, {{0x100000001, 0}}).records.size(), 1u);
  EXPECT_EQ(restricted(narrow, {{0x100000000, 0}}), "levels=0");
}

TEST(AllowedProcessors, CountsDistinctProcessors) {
  struct Case {
    ProcessorSet set;
    std::uint32_t count;
  };
  const Case cases[] = {
      {{}, 0},
      {{{0x0, 0}}, 0},
      {{{0x2, 0}}, 1},
      {{{0xff, 0}}, 8},
      {{{0x3, 0}, {0x6, 0}}, 3},
      {{{0x1, 0}, {0x1, 1}}, 2},
      {{{~std::uint64_t{0}, 0}, {~std::uint64_t{0}, 7}}, 128},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(processor_count(c.set), c.count);
  }
}

// The live pieces together: whatever this process may use, the tree it detects
// holds no other processor, and the fallback count is the allowed count.
TEST(AllowedProcessors, DetectedTreeLiesInsideTheAllowedSet) {
  const ProcessorSet allowed = allowed_processors();
  if (processor_count(allowed) == 0) {
    GTEST_SKIP() << "no allowed set on this system (several processor groups or a failed query)";
  }
  EXPECT_EQ(logical_processor_count(), processor_count(allowed));
  const Topology topology = detect_topology();
  std::uint32_t seen = 0;
  for (const NumaNode& node : topology.nodes) {
    for (const Llc& llc : node.llcs) {
      for (const Core& core : llc.cores) {
        EXPECT_FALSE(core.logicals.empty()) << "core " << core.id;
        for (const LogicalProcessor& logical : core.logicals) {
          ++seen;
          bool inside = false;
          for (const GroupAffinity& affinity : allowed) {
            inside = inside || (affinity.group == logical.group && logical.os < 64 &&
                                ((affinity.mask >> logical.os) & 1u) != 0);
          }
          EXPECT_TRUE(inside) << logical.group << ":" << logical.os;
        }
      }
    }
  }
  EXPECT_LE(seen, processor_count(allowed));
}

} // namespace
} // namespace velto
