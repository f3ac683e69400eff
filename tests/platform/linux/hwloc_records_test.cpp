#include "platform/affinity.hpp"
#include "platform/linux/hwloc_records.hpp"
#include "platform/topology.hpp"

#include "support/topology_builders.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace velto::linux_os {
namespace {

using testing::layout;

Topology tree_of(const HwlocTopology& machine) {
  return build_topology(records_from_hwloc(machine));
}

TEST(HwlocRecords, SyntheticMachines) {
  struct Case {
    const char* description;
    const char* expected;
  };
  const Case cases[] = {
      {"pack:2 [numa] l3:1 core:4 pu:2",
       "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l0/p0[0:4,0:5] "
       "c3@n0/l0/p0[0:6,0:7] c4@n1/l1/p0[0:8,0:9] c5@n1/l1/p0[0:10,0:11] "
       "c6@n1/l1/p0[0:12,0:13] c7@n1/l1/p0[0:14,0:15]"},
      // Two level-3 caches in one node keep their machine-wide ordinals.
      {"pack:1 [numa] l3:2 core:1 pu:1", "levels=1 c0@n0/l0/p0[0:0] c1@n0/l1/p0[0:1]"},
      // Siblings numbered one package apart: cores follow their first processor.
      {"pack:2 [numa] core:2 pu:2(indexes=0,4,2,6,1,5,3,7)",
       "levels=1 c0@n0/l0/p0[0:0,0:4] c2@n0/l0/p0[0:2,0:6] c1@n1/l0/p0[0:1,0:5] "
       "c3@n1/l0/p0[0:3,0:7]"},
  };
  for (const Case& c : cases) {
    const HwlocTopology machine = HwlocTopology::from_synthetic(c.description);
    ASSERT_TRUE(machine.loaded()) << c.description;
    EXPECT_EQ(layout(tree_of(machine)), c.expected) << c.description;
  }
}

TEST(HwlocRecords, AllowedProcessorsCutASyntheticMachine) {
  // Processors 0-7 in node 0 (cache 0), 8-15 in node 1 (cache 1); core c holds 2c, 2c+1.
  const HwlocTopology machine = HwlocTopology::from_synthetic("pack:2 [numa] l3:1 core:4 pu:2");
  ASSERT_TRUE(machine.loaded());
  const TopologyRecords records = records_from_hwloc(machine);
  struct Case {
    const char* name;
    ProcessorSet allowed;
    const char* expected;
  };
  const Case cases[] = {
      {"taskset -c 1", {{0x2, 0}}, "levels=1 c0@n0/l0/p0[0:1]"},
      {"the second node (numactl -N 1)",
       {{0xff00, 0}},
       "levels=1 c4@n1/l1/p0[0:8,0:9] c5@n1/l1/p0[0:10,0:11] c6@n1/l1/p0[0:12,0:13] "
       "c7@n1/l1/p0[0:14,0:15]"},
      {"first siblings of cores 3 and 4",
       {{0x0140, 0}},
       "levels=1 c3@n0/l0/p0[0:6] c4@n1/l1/p0[0:8]"},
      {"a failed query",
       {},
       "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l0/p0[0:4,0:5] "
       "c3@n0/l0/p0[0:6,0:7] c4@n1/l1/p0[0:8,0:9] c5@n1/l1/p0[0:10,0:11] "
       "c6@n1/l1/p0[0:12,0:13] c7@n1/l1/p0[0:14,0:15]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(layout(build_topology(restrict_to_processors(records, c.allowed))), c.expected)
        << c.name;
  }
}

TEST(HwlocRecords, ProcessorsPast63FallInTheNextGroup) {
  // 80 processors: the second node spans groups 0 and 1.
  const HwlocTopology machine = HwlocTopology::from_synthetic("pack:2 [numa] core:20 pu:2");
  ASSERT_TRUE(machine.loaded());
  const Topology topology = tree_of(machine);
  ASSERT_EQ(topology.nodes.size(), 2u);
  const std::vector<Core>& cores = topology.nodes[1].llcs.at(0).cores;
  ASSERT_EQ(cores.size(), 20u);
  EXPECT_EQ(cores[11].id, 31u);
  EXPECT_EQ(cores[11].logicals, (std::vector<LogicalProcessor>{{0, 31, 62, 0}, {1, 31, 63, 0}}));
  EXPECT_EQ(cores[12].logicals, (std::vector<LogicalProcessor>{{0, 32, 0, 1}, {1, 32, 1, 1}}));
  EXPECT_EQ(cores[19].logicals.back(), (LogicalProcessor{1, 39, 15, 1}));
}

// One node and one level-3 cache: two cores of two processors (0-3) and two
// of one (4, 5), with the CPU kinds given.
std::string hybrid_xml(const std::string& kinds) {
  const std::string object = "complete_nodeset=\"0x1\" nodeset=\"0x1\"";
  auto pu = [&](int os) {
    const std::string set = "0x" + std::to_string(1 << os);
    return "<object type=\"PU\" os_index=\"" + std::to_string(os) + "\" cpuset=\"" + set +
           "\" complete_cpuset=\"" + set + "\" " + object + "/>";
  };
  auto core = [&](int os, const std::string& set, const std::string& pus) {
    return "<object type=\"Core\" os_index=\"" + std::to_string(os) + "\" cpuset=\"" + set +
           "\" complete_cpuset=\"" + set + "\" " + object + ">" + pus + "</object>\n";
  };
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE topology SYSTEM "hwloc2.dtd">
<topology version="2.0">
<object type="Machine" os_index="0" cpuset="0x3f" complete_cpuset="0x3f" allowed_cpuset="0x3f" )" +
         object + R"( allowed_nodeset="0x1">
<object type="Package" os_index="0" cpuset="0x3f" complete_cpuset="0x3f" )" +
         object + R"(>
<object type="NUMANode" os_index="0" cpuset="0x3f" complete_cpuset="0x3f" )" +
         object +
         R"( local_memory="1073741824"/>
<object type="L3Cache" cpuset="0x3f" complete_cpuset="0x3f" )" +
         object +
         R"( cache_size="16777216" depth="3" cache_linesize="64" cache_associativity="0" cache_type="0">
)" + core(0, "0x3", pu(0) + pu(1)) +
         core(1, "0xc", pu(2) + pu(3)) + core(2, "0x10", pu(4)) + core(3, "0x20", pu(5)) +
         "</object>\n</object>\n</object>\n" + kinds + "</topology>\n";
}

TEST(HwlocRecords, CpuKindsRankPerformanceLevels) {
  struct Case {
    const char* name;
    std::string kinds;
    const char* expected;
  };
  const Case cases[] = {
      {"the most efficient kind is the slowest",
       "<cpukind cpuset=\"0x30\" forced_efficiency=\"0\"/>\n"
       "<cpukind cpuset=\"0xf\" forced_efficiency=\"1\"/>\n",
       "levels=2 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l0/p1[0:4] c3@n0/l0/p1[0:5]"},
      {"fast kind on the high processor numbers",
       "<cpukind cpuset=\"0xf\" forced_efficiency=\"0\"/>\n"
       "<cpukind cpuset=\"0x30\" forced_efficiency=\"1\"/>\n",
       "levels=2 c0@n0/l0/p1[0:0,0:1] c1@n0/l0/p1[0:2,0:3] c2@n0/l0/p0[0:4] c3@n0/l0/p0[0:5]"},
      {"kinds hwloc cannot rank make one level",
       "<cpukind cpuset=\"0x30\"/>\n<cpukind cpuset=\"0xf\"/>\n",
       "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l0/p0[0:4] c3@n0/l0/p0[0:5]"},
      {"no kinds make one level", "",
       "levels=1 c0@n0/l0/p0[0:0,0:1] c1@n0/l0/p0[0:2,0:3] c2@n0/l0/p0[0:4] c3@n0/l0/p0[0:5]"},
  };
  for (const Case& c : cases) {
    const HwlocTopology machine = HwlocTopology::from_xml(hybrid_xml(c.kinds));
    ASSERT_TRUE(machine.loaded()) << c.name;
    EXPECT_EQ(layout(tree_of(machine)), c.expected) << c.name;
  }
}

TEST(HwlocRecords, UnloadedTopologyHasNoRecords) {
  EXPECT_TRUE(records_from_hwloc(HwlocTopology()).records.empty());
  EXPECT_FALSE(HwlocTopology::from_synthetic("not a machine").loaded());
  EXPECT_FALSE(HwlocTopology::from_xml("<topology").loaded());
}

// Objects of `type` with a processor in `allowed` (every processor when it is empty).
int count_with_processors(hwloc_topology_t machine, hwloc_obj_type_t type,
                          hwloc_const_bitmap_t allowed) {
  int count = 0;
  for (hwloc_obj_t object = hwloc_get_next_obj_by_type(machine, type, nullptr); object != nullptr;
       object = hwloc_get_next_obj_by_type(machine, type, object)) {
    const bool has =
        object->cpuset != nullptr && !hwloc_bitmap_iszero(object->cpuset) &&
        (hwloc_bitmap_iszero(allowed) || hwloc_bitmap_intersects(object->cpuset, allowed));
    count += has ? 1 : 0;
  }
  return count;
}

TEST(HwlocRecords, ThisMachineMatchesHwlocsOwnCounts) {
  const HwlocTopology host = HwlocTopology::from_host();
  ASSERT_TRUE(host.loaded());
  // Counted within the processors this process may use (all of them unless it
  // runs under taskset or the like).
  hwloc_bitmap_t allowed = hwloc_bitmap_alloc();
  ASSERT_NE(allowed, nullptr);
  for (const GroupAffinity& affinity : allowed_processors()) {
    for (unsigned bit = 0; bit < 64; ++bit) {
      if ((affinity.mask >> bit) & 1u) {
        hwloc_bitmap_set(allowed, affinity.group * 64u + bit);
      }
    }
  }
  const int nodes = count_with_processors(host.get(), HWLOC_OBJ_NUMANODE, allowed);
  const int l3 = count_with_processors(host.get(), HWLOC_OBJ_L3CACHE, allowed);
  const int cores = count_with_processors(host.get(), HWLOC_OBJ_CORE, allowed);
  const int processors = [&] {
    hwloc_bitmap_t pus = hwloc_bitmap_dup(hwloc_topology_get_topology_cpuset(host.get()));
    if (!hwloc_bitmap_iszero(allowed)) {
      hwloc_bitmap_and(pus, pus, allowed);
    }
    const int weight = hwloc_bitmap_weight(pus);
    hwloc_bitmap_free(pus);
    return weight;
  }();
  hwloc_bitmap_free(allowed);

  const Topology topology = detect_topology();
  int seen_llcs = 0;
  int seen_cores = 0;
  int seen_processors = 0;
  for (const NumaNode& node : topology.nodes) {
    for (const Llc& llc : node.llcs) {
      ++seen_llcs;
      for (const Core& core : llc.cores) {
        ++seen_cores;
        seen_processors += static_cast<int>(core.logicals.size());
      }
    }
  }
  EXPECT_EQ(static_cast<int>(topology.nodes.size()), nodes);
  EXPECT_EQ(seen_llcs, l3 > 0 ? l3 : nodes);
  EXPECT_EQ(seen_cores, cores);
  EXPECT_EQ(seen_processors, processors);
  EXPECT_GE(topology.perf_level_count, 1u);
}

} // namespace
} // namespace velto::linux_os
