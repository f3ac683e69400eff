#include "engine/placement.hpp"

#include "platform/memory_ledger.hpp"
#include "platform/topology_records.hpp"
#include "solver/field.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto {
namespace {

// A core of `smt` logical processors numbered from `first_os` upwards.
Core make_core(std::uint32_t id, std::uint32_t level, std::uint32_t smt, std::uint32_t first_os,
               std::uint16_t group = 0) {
  Core core;
  core.id = id;
  core.perf_level = level;
  for (std::uint32_t j = 0; j < smt; ++j) {
    core.logicals.push_back({j, id, first_os + j, group});
  }
  return core;
}

std::vector<std::uint32_t> os_numbers(const PlacementPlan& plan) {
  std::vector<std::uint32_t> numbers;
  for (const LogicalProcessor& logical : plan) {
    numbers.push_back(logical.os);
  }
  return numbers;
}

// Two nodes of one LLC each, four two-way cores per node; processor j of
// core c of node n is os number 10·n + 2·c + j.
Topology two_nodes_of_four_two_way_cores() {
  Topology topology;
  topology.perf_level_count = 1;
  for (std::uint32_t n = 0; n < 2; ++n) {
    NumaNode node;
    node.id = n;
    Llc llc;
    llc.id = n;
    for (std::uint32_t c = 0; c < 4; ++c) {
      llc.cores.push_back(make_core(n * 4 + c, 0, 2, 10 * n + 2 * c));
    }
    node.llcs.push_back(llc);
    topology.nodes.push_back(node);
  }
  return topology;
}

// One node, one LLC: p (os 0, 1) and q (os 2, 3) at level 0, then r, s, t, u
// (os 4 to 7) with one processor each at level 1.
Topology hybrid_two_big_four_little() {
  Topology topology;
  topology.perf_level_count = 2;
  Llc llc;
  llc.cores.push_back(make_core(0, 0, 2, 0));
  llc.cores.push_back(make_core(1, 0, 2, 2));
  for (std::uint32_t c = 0; c < 4; ++c) {
    llc.cores.push_back(make_core(2 + c, 1, 1, 4 + c));
  }
  NumaNode node;
  node.llcs.push_back(llc);
  topology.nodes.push_back(node);
  return topology;
}

TEST(Placement, PlansOfTheWorkedExamples) {
  const std::vector<std::uint32_t> spread = {0, 10, 2, 12, 4, 14, 6, 16,
                                             1, 11, 3, 13, 5, 15, 7, 17};
  // p0 q0 r0 s0 t0 u0 p1 q1 and p0 q0 p1 q1 r0 s0 t0 u0
  const std::vector<std::uint32_t> hybrid_numa = {0, 2, 4, 5, 6, 7, 1, 3};
  const std::vector<std::uint32_t> hybrid_phte = {0, 2, 1, 3, 4, 5, 6, 7};
  struct Case {
    std::string name;
    Topology topology;
    std::vector<std::uint32_t> numa;
    std::vector<std::uint32_t> phte;
  };
  const Case cases[] = {
      {"two nodes", two_nodes_of_four_two_way_cores(), spread, spread},
      {"hybrid", hybrid_two_big_four_little(), hybrid_numa, hybrid_phte},
      {"empty", Topology{}, {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os_numbers(make_numa_plan(c.topology)), c.numa) << c.name;
    EXPECT_EQ(os_numbers(make_phte_plan(c.topology)), c.phte) << c.name;
    EXPECT_EQ(os_numbers(make_placement_plan(Threading::numa, c.topology)), c.numa) << c.name;
    EXPECT_EQ(os_numbers(make_placement_plan(Threading::phte, c.topology)), c.phte) << c.name;
    EXPECT_TRUE(make_placement_plan(Threading::os, c.topology).empty()) << c.name;
  }
}

TEST(Placement, PlanEntriesAreWholeCopiesOfTheTopologysRecords) {
  Topology topology = two_nodes_of_four_two_way_cores();
  topology.nodes[1].llcs[0].cores[0].logicals[0].group = 3;
  const PlacementPlan plan = make_numa_plan(topology);
  ASSERT_EQ(plan.size(), 16u);
  EXPECT_EQ(plan[1], (LogicalProcessor{0, 4, 10, 3}));
  EXPECT_EQ(plan[8], (LogicalProcessor{1, 0, 1, 0}));
}

TEST(Placement, GroupsRunByLlcPositionThenNodeAndSkipEmptyCores) {
  // Node 0 has two LLCs, node 1 one; node 1's LLC holds only a core without
  // processors and a level-1 core, so it forms no level-0 group.
  Topology topology;
  topology.perf_level_count = 2;
  NumaNode node0;
  node0.llcs.resize(2);
  node0.llcs[0].cores.push_back(make_core(0, 0, 2, 0));
  node0.llcs[1].cores.push_back(make_core(1, 0, 3, 2));
  node0.llcs[1].cores.push_back(make_core(2, 0, 1, 5));
  NumaNode node1;
  node1.llcs.resize(1);
  node1.llcs[0].cores.push_back(make_core(3, 0, 0, 0));
  node1.llcs[0].cores.push_back(make_core(4, 1, 1, 6));
  topology.nodes = {node0, node1};

  const CoreGroups level0 = collect_core_groups(topology, 0);
  ASSERT_EQ(level0.groups.size(), 2u);
  EXPECT_EQ(level0.groups[0], (CoreGroup{&topology.nodes[0].llcs[0].cores[0]}));
  EXPECT_EQ(level0.groups[1],
            (CoreGroup{&topology.nodes[0].llcs[1].cores[0], &topology.nodes[0].llcs[1].cores[1]}));
  EXPECT_EQ(level0.max_logicals, 3u);

  const CoreGroups level1 = collect_core_groups(topology, 1);
  ASSERT_EQ(level1.groups.size(), 1u);
  EXPECT_EQ(level1.groups[0], (CoreGroup{&topology.nodes[1].llcs[0].cores[1]}));
  EXPECT_EQ(level1.max_logicals, 1u);

  EXPECT_TRUE(collect_core_groups(topology, 2).groups.empty());

  // numa: first processors (0, 2, 5 at level 0; 6 at level 1), then seconds, then the third.
  EXPECT_EQ(os_numbers(make_numa_plan(topology)),
            (std::vector<std::uint32_t>{0, 2, 5, 6, 1, 3, 4}));
  EXPECT_EQ(os_numbers(make_phte_plan(topology)),
            (std::vector<std::uint32_t>{0, 2, 5, 1, 3, 4, 6}));
}

TEST(Placement, DistributeKeepsOnlyAsManySmtIndicesAsLists) {
  const Core three_way = make_core(0, 0, 3, 0);
  const Core one_way = make_core(1, 0, 1, 3);
  SmtLists lists(2);
  lists[0].push_back(&one_way.logicals[0]); // lists are appended to, never cleared
  distribute_logicals(lists, {{&three_way, &one_way}});
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(lists[0], (std::vector<const LogicalProcessor*>{
                          &one_way.logicals[0], &three_way.logicals[0], &one_way.logicals[0]}));
  EXPECT_EQ(lists[1], (std::vector<const LogicalProcessor*>{&three_way.logicals[1]}));
}

TEST(Placement, CoreCountAndAutomaticThreadCount) {
  Topology sixteen;
  sixteen.perf_level_count = 1;
  sixteen.nodes.resize(2);
  for (std::uint32_t n = 0; n < 2; ++n) {
    sixteen.nodes[n].llcs.resize(2);
    for (std::uint32_t l = 0; l < 2; ++l) {
      for (std::uint32_t c = 0; c < 4; ++c) {
        sixteen.nodes[n].llcs[l].cores.push_back(make_core(c, 0, 2, c * 2));
      }
    }
  }
  // What the ledger charges one thread at N = 192, and what it must hold back.
  const std::uint64_t per_thread = 2 * ledger_charge(field_bytes(192));
  const std::uint64_t margin = std::uint64_t{128} << 20;
  struct Case {
    const char* name;
    const Topology* topology;
    std::uint64_t memory;
    std::uint32_t system_logicals;
    std::uint32_t cores;
    std::uint32_t threads;
  };
  const Topology empty;
  const Case cases[] = {
      {"memory for five", &sixteen, per_thread * 5 + per_thread / 2 + margin, 64, 16, 5},
      {"memory for exactly one", &sixteen, per_thread + margin, 64, 16, 1},
      {"one but for the margin", &sixteen, per_thread + margin - 1, 64, 16, 16},
      {"memory for none", &sixteen, per_thread - 1, 64, 16, 16},
      {"memory query failed", &sixteen, 0, 64, 16, 16},
      {"plenty of memory", &sixteen, per_thread * 1000, 64, 16, 16},
      {"no nodes: system count", &empty, per_thread * 2 + margin, 8, 8, 2},
      {"no nodes, no count", &empty, per_thread * 2 + margin, 0, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(core_count(*c.topology, c.system_logicals), c.cores) << c.name;
    EXPECT_EQ(auto_thread_count(*c.topology, 192, c.memory, c.system_logicals), c.threads)
        << c.name;
  }
  // A grid size whose per-thread figure wraps to zero must not divide by it.
  EXPECT_EQ(auto_thread_count(sixteen, (std::uint64_t{1} << 22) - 2, 1 << 20, 64), 16u);
}

// A default run must never pick a thread whose fields the ledger then refuses:
// across the edge of every count, a ledger of the same available memory grants
// the two fields of each thread the count picked and, when memory limited it,
// refuses the next thread's.
TEST(Placement, AutomaticCountAndTheMemoryLedgerAgreeAcrossTheEdge) {
  Topology many;
  many.perf_level_count = 1;
  many.nodes.resize(1);
  many.nodes[0].llcs.resize(1);
  for (std::uint32_t c = 0; c < 64; ++c) {
    many.nodes[0].llcs[0].cores.push_back(make_core(c, 0, 1, c));
  }
  const std::uint64_t mib = std::uint64_t{1} << 20;
  for (const std::uint64_t size_max : {std::uint64_t{UINT32_MAX}, std::uint64_t{UINT64_MAX}}) {
    for (const std::uint64_t n : {64, 192, 256, 448}) {
      if (check_grid_size(n, size_max) != GridSizeLimit::ok) {
        continue;
      }
      const std::uint64_t field = field_bytes(n);
      const std::uint64_t per_thread = 2 * ledger_charge(field);
      for (std::uint64_t threads = 1; threads <= 8; ++threads) {
        // The smallest figure that grants `threads` threads, by the ledger's
        // margin (at least 128 MiB, at most 1 GiB, else 1/32), and the
        // figures around it, the 950 MiB at N = 192 among them.
        const std::uint64_t need = threads * per_thread;
        for (const std::uint64_t available :
             {need + 128 * mib - 1, need + 128 * mib, need + need / 31 + 1, need + 1024 * mib,
              std::uint64_t{950} * mib}) {
          const std::uint32_t count = auto_thread_count(many, n, available, 64);
          MemoryLedger ledger([available] { return available; });
          std::uint64_t granted = 0;
          while (granted < 64 && ledger.reserve(ledger_charge(field)) &&
                 ledger.reserve(ledger_charge(field))) {
            ++granted;
          }
          if (granted == 0) {
            EXPECT_EQ(count, 64u) << "no thread fits: no limit, N = " << n;
          } else {
            EXPECT_EQ(count, granted)
                << "N = " << n << ", available " << available << ", size_max " << size_max;
          }
        }
      }
    }
  }
}

// Two nodes of one level-3 cache and two two-way cores each, as hwloc reports
// them: core c holds processors 2c and 2c+1, node n processors 4n..4n+3; plus
// one efficient one-way core (processor 8) in node 1.
TopologyRecords recorded_two_nodes() {
  TopologyRecords records;
  for (std::uint64_t c = 0; c < 4; ++c) {
    records.records.push_back(
        {RecordKind::core, 1, 0, {{std::uint64_t{0x3} << (2 * c), 0}}, std::nullopt});
  }
  records.records.push_back({RecordKind::core, 0, 0, {{0x100, 0}}, std::nullopt});
  records.records.push_back({RecordKind::numa_node, 0, 0, {{0x0f, 0}}, std::nullopt});
  records.records.push_back({RecordKind::numa_node, 0, 1, {{0x1f0, 0}}, std::nullopt});
  records.records.push_back({RecordKind::l3_cache, 0, 0, {{0x0f, 0}}, std::nullopt});
  records.records.push_back({RecordKind::l3_cache, 0, 0, {{0x1f0, 0}}, std::nullopt});
  return records;
}

TEST(Placement, PlansAndCountOfARestrictedProcessNeverLeaveItsSet) {
  const std::uint64_t plenty = memory_per_thread(64) * 1000;
  struct Case {
    const char* name;
    std::uint64_t allowed;
    std::uint32_t threads;
    std::vector<std::uint32_t> numa;
    std::vector<std::uint32_t> phte;
  };
  const Case cases[] = {
      {"unrestricted", 0, 5, {0, 4, 2, 6, 8, 1, 5, 3, 7}, {0, 4, 2, 6, 1, 5, 3, 7, 8}},
      {"taskset -c 1", 0x2, 1, {1}, {1}},
      {"one sibling of each core of node 1", 0x0a0, 2, {5, 7}, {5, 7}},
      {"node 1 only", 0x1f0, 3, {4, 6, 8, 5, 7}, {4, 6, 5, 7, 8}},
      {"the efficient core and one sibling", 0x101, 2, {0, 8}, {0, 8}},
  };
  const TopologyRecords machine = recorded_two_nodes();
  for (const Case& c : cases) {
    const ProcessorSet allowed = {{c.allowed, 0}};
    const Topology topology = build_topology(restrict_to_processors(machine, allowed));
    EXPECT_EQ(auto_thread_count(topology, 64, plenty, 64), c.threads) << c.name;
    const PlacementPlan numa = make_numa_plan(topology);
    const PlacementPlan phte = make_phte_plan(topology);
    EXPECT_EQ(os_numbers(numa), c.numa) << c.name;
    EXPECT_EQ(os_numbers(phte), c.phte) << c.name;
    for (const PlacementPlan* plan : {&numa, &phte}) {
      for (const LogicalProcessor& entry : *plan) {
        EXPECT_EQ(entry.group, 0u) << c.name;
        EXPECT_TRUE(c.allowed == 0 || ((c.allowed >> entry.os) & 1u) != 0)
            << c.name << ": processor " << entry.os << " lies outside the allowed set";
      }
    }
  }
}

} // namespace
} // namespace velto
