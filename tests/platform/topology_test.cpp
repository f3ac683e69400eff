#include "platform/topology.hpp"

#include "platform/topology_records.hpp"
#include "support/scripted_machine.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

TopologyRecord core(std::uint8_t efficiency_class, std::vector<GroupAffinity> affinities) {
  return {RecordKind::core, efficiency_class, 0, std::move(affinities), std::nullopt};
}

TopologyRecord node(std::uint32_t number, GroupAffinity affinity) {
  return {RecordKind::numa_node, 0, number, {affinity}, std::nullopt};
}

TopologyRecord l3(std::vector<GroupAffinity> affinities) {
  return {RecordKind::l3_cache, 0, 0, std::move(affinities), std::nullopt};
}

std::string printed(const Topology& topology) {
  std::ostringstream out;
  print_topology(topology, out);
  return out.str();
}

TEST(Topology, TreeOfRecords) {
  struct Case {
    const char* name;
    std::vector<TopologyRecord> records;
    const char* expected;
  };
  const Case cases[] = {
      {"no level-3 cache puts every core under cache 0",
       {core(0, {{0x3, 0}}), core(0, {{0xc, 0}}), node(0, {0xf, 0})},
       "perf_level_count=1\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=0 perf_level=0\n"
       "|  |  |--logical idx=0 os=0\n"
       "|  |  |--logical idx=1 os=1\n"
       "|  |--core id=1 perf_level=0\n"
       "|  |  |--logical idx=0 os=2\n"
       "|  |  |--logical idx=1 os=3\n"},
      {"efficiency class 1 is the faster level",
       {core(0, {{0x1, 0}}), core(1, {{0x2, 0}}), core(1, {{0x4, 0}}), core(0, {{0x8, 0}})},
       "perf_level_count=2\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=0 perf_level=1\n"
       "|  |  |--logical idx=0 os=0\n"
       "|  |--core id=1 perf_level=0\n"
       "|  |  |--logical idx=0 os=1\n"
       "|  |--core id=2 perf_level=0\n"
       "|  |  |--logical idx=0 os=2\n"
       "|  |--core id=3 perf_level=1\n"
       "|  |  |--logical idx=0 os=3\n"},
      {"sparse classes rank densely from the highest",
       {core(5, {{0x1, 0}}), core(0, {{0x2, 0}}), core(2, {{0x4, 0}})},
       "perf_level_count=3\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=0 perf_level=0\n"
       "|  |  |--logical idx=0 os=0\n"
       "|  |--core id=1 perf_level=2\n"
       "|  |  |--logical idx=0 os=1\n"
       "|  |--core id=2 perf_level=1\n"
       "|  |  |--logical idx=0 os=2\n"},
      {"bits 6 and 7 in order, bit 63 of a 64-bit mask",
       {core(0, {{0xc0, 0}}), core(0, {{0x8000000000000001, 0}})},
       "perf_level_count=1\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=0 perf_level=0\n"
       "|  |  |--logical idx=0 os=6\n"
       "|  |  |--logical idx=1 os=7\n"
       "|  |--core id=1 perf_level=0\n"
       "|  |  |--logical idx=0 os=0\n"
       "|  |  |--logical idx=1 os=63\n"},
      {"cache ordinals count over the machine; unused node numbers vanish",
       {node(3, {0x0, 0}), node(0, {0x3, 0}), node(1, {0xc, 0}), node(7, {0x30, 0}), l3({{0x3, 0}}),
        l3({{0xc, 0}}), core(0, {{0x4, 0}}), core(0, {{0x8, 0}}), core(0, {{0x1, 0}}),
        core(0, {{0x2, 0}})},
       "perf_level_count=1\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=2 perf_level=0\n"
       "|  |  |--logical idx=0 os=0\n"
       "|  |--core id=3 perf_level=0\n"
       "|  |  |--logical idx=0 os=1\n"
       "numa node id=1\n"
       "|--llc id=1\n"
       "|  |--core id=0 perf_level=0\n"
       "|  |  |--logical idx=0 os=2\n"
       "|  |--core id=1 perf_level=0\n"
       "|  |  |--logical idx=0 os=3\n"},
      {"one node with two caches; a core without processors goes to node 0 cache 0",
       {node(2, {0xf, 0}), l3({{0x3, 0}}), l3({{0xc, 0}}), core(0, {{0x8, 0}}), core(0, {}),
        core(0, {{0x1, 0}})},
       "perf_level_count=1\n"
       "numa node id=0\n"
       "|--llc id=0\n"
       "|  |--core id=1 perf_level=0\n"
       "numa node id=2\n"
       "|--llc id=0\n"
       "|  |--core id=2 perf_level=0\n"
       "|  |  |--logical idx=0 os=0\n"
       "|--llc id=1\n"
       "|  |--core id=0 perf_level=0\n"
       "|  |  |--logical idx=0 os=3\n"},
      {"no records, no tree", {}, "perf_level_count=0\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(printed(build_topology({64, c.records})), c.expected) << c.name;
  }
}

TEST(Topology, ProcessorsOfTheSecondGroupCountFromZero) {
  const TopologyRecords records{64,
                                {node(0, {0x3, 0}), node(1, {0x3, 1}), l3({{0x3, 0}}),
                                 l3({{0x3, 1}}), core(0, {{0x3, 1}}), core(0, {{0x3, 0}})}};
  const Topology topology = build_topology(records);
  ASSERT_EQ(topology.nodes.size(), 2u);
  const NumaNode& second = topology.nodes[1];
  EXPECT_EQ(second.id, 1u);
  ASSERT_EQ(second.llcs.size(), 1u);
  EXPECT_EQ(second.llcs[0].id, 1u);
  ASSERT_EQ(second.llcs[0].cores.size(), 1u);
  const Core& core0 = second.llcs[0].cores[0];
  EXPECT_EQ(core0.id, 0u);
  const std::vector<LogicalProcessor> expected = {{0, 0, 0, 1}, {1, 0, 1, 1}};
  EXPECT_EQ(core0.logicals, expected);
  EXPECT_EQ(topology.nodes[0].llcs[0].cores[0].logicals[1], (LogicalProcessor{1, 1, 1, 0}));
}

TEST(Topology, NarrowMasksIgnoreBitsBeyondTheirWidth) {
  const Topology topology = build_topology({32, {core(0, {{0x100000001, 0}})}});
  ASSERT_EQ(topology.nodes.size(), 1u);
  const std::vector<LogicalProcessor> expected = {{0, 0, 0, 0}};
  EXPECT_EQ(topology.nodes[0].llcs[0].cores[0].logicals, expected);
}

TEST(Topology, PrintsNineLinesForTwoCoresOfTwoProcessors) {
  Topology topology;
  topology.perf_level_count = 1;
  Llc& llc = topology.nodes.emplace_back().llcs.emplace_back();
  llc.cores.push_back({0, 0, {{0, 0, 0, 0}, {1, 0, 1, 0}}});
  llc.cores.push_back({1, 0, {{0, 1, 2, 0}, {1, 1, 3, 0}}});
  EXPECT_EQ(printed(topology), "perf_level_count=1\n"
                               "numa node id=0\n"
                               "|--llc id=0\n"
                               "|  |--core id=0 perf_level=0\n"
                               "|  |  |--logical idx=0 os=0\n"
                               "|  |  |--logical idx=1 os=1\n"
                               "|  |--core id=1 perf_level=0\n"
                               "|  |  |--logical idx=0 os=2\n"
                               "|  |  |--logical idx=1 os=3\n");
}

TEST(Topology, PrintoutIgnoresTheStreamsNumberFormat) {
  Topology topology;
  topology.perf_level_count = 12;
  std::ostringstream out;
  out << std::hex << std::showbase;
  print_topology(topology, out);
  EXPECT_EQ(out.str(), "perf_level_count=12\n");
}

TEST(Topology, HolderDetectsOnceAndKeepsWhatItHolds) {
  testing::ScriptedMachine machine;
  machine.topology.perf_level_count = 7;
  Topology recorded;
  recorded.perf_level_count = 42;
  TopologyCache held{recorded};
  EXPECT_EQ(get_topology(held, machine).perf_level_count, 42u);
  EXPECT_EQ(machine.topology_detections.load(), 0);

  TopologyCache empty;
  const Topology& first = get_topology(empty, machine);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(&first, &*empty);
  EXPECT_EQ(&get_topology(empty, machine), &first);
  EXPECT_EQ(first.perf_level_count, 7u);
  EXPECT_EQ(machine.topology_detections.load(), 1);
}

} // namespace
} // namespace velto
