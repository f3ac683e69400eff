// Thread count and placement plans: pure functions of the topology, except
// apply_placement, which pins the calling thread.
#include "engine/placement.hpp"

#include "platform/memory_ledger.hpp"
#include "solver/field.hpp"

#include <algorithm>

namespace velto {

std::uint32_t core_count(const Topology& topology, std::uint32_t system_logicals) {
  if (topology.nodes.empty()) {
    return system_logicals;
  }
  std::uint32_t cores = 0;
  for (const NumaNode& node : topology.nodes) {
    for (const Llc& llc : node.llcs) {
      cores += static_cast<std::uint32_t>(llc.cores.size());
    }
  }
  return cores;
}

std::uint32_t auto_thread_count(const Topology& topology, std::uint64_t grid_size,
                                std::uint64_t available_memory, std::uint32_t system_logicals) {
  const std::uint32_t cores = core_count(topology, system_logicals);
  if (cores == 0) {
    return 1;
  }
  // The ledger's own rule: a count it would not grant fields for fails later
  // with "field allocation failed".
  const std::uint64_t fit =
      ledger_sets_that_fit(available_memory, field_bytes(grid_size), fields_per_thread);
  std::uint32_t threads = cores;
  if (fit != 0 && fit < cores) {
    threads = static_cast<std::uint32_t>(fit);
  }
  return std::max<std::uint32_t>(threads, 1);
}

CoreGroups collect_core_groups(const Topology& topology, std::uint32_t level) {
  CoreGroups result;
  std::size_t llc_positions = 0;
  for (const NumaNode& node : topology.nodes) {
    llc_positions = std::max(llc_positions, node.llcs.size());
  }
  for (std::size_t l = 0; l < llc_positions; ++l) {
    for (const NumaNode& node : topology.nodes) {
      if (node.llcs.size() <= l) {
        continue;
      }
      CoreGroup group;
      for (const Core& core : node.llcs[l].cores) {
        if (core.perf_level != level || core.logicals.empty()) {
          continue;
        }
        group.push_back(&core);
        result.max_logicals =
            std::max(result.max_logicals, static_cast<std::uint32_t>(core.logicals.size()));
      }
      if (!group.empty()) {
        result.groups.push_back(std::move(group));
      }
    }
  }
  return result;
}

void distribute_logicals(SmtLists& lists, const std::vector<CoreGroup>& groups) {
  std::size_t ranks = 0;
  for (const CoreGroup& group : groups) {
    ranks = std::max(ranks, group.size());
  }
  for (std::size_t i = 0; i < ranks; ++i) {
    for (const CoreGroup& group : groups) {
      if (group.size() <= i) {
        continue;
      }
      const Core& core = *group[i];
      for (std::size_t j = 0; j < lists.size() && j < core.logicals.size(); ++j) {
        lists[j].push_back(&core.logicals[j]);
      }
    }
  }
}

namespace {

void append_lists(PlacementPlan& plan, const SmtLists& lists) {
  for (const auto& list : lists) {
    for (const LogicalProcessor* logical : list) {
      plan.push_back(*logical);
    }
  }
}

} // namespace

PlacementPlan make_numa_plan(const Topology& topology) {
  PlacementPlan plan;
  if (topology.nodes.empty()) {
    return plan;
  }
  std::vector<CoreGroups> levels;
  std::uint32_t widest = 0;
  for (std::uint32_t k = 0; k < topology.perf_level_count; ++k) {
    levels.push_back(collect_core_groups(topology, k));
    widest = std::max(widest, levels.back().max_logicals);
  }
  SmtLists lists(widest);
  for (const CoreGroups& level : levels) {
    distribute_logicals(lists, level.groups);
  }
  append_lists(plan, lists);
  return plan;
}

PlacementPlan make_phte_plan(const Topology& topology) {
  PlacementPlan plan;
  if (topology.nodes.empty()) {
    return plan;
  }
  for (std::uint32_t k = 0; k < topology.perf_level_count; ++k) {
    const CoreGroups level = collect_core_groups(topology, k);
    SmtLists lists(level.max_logicals);
    distribute_logicals(lists, level.groups);
    append_lists(plan, lists);
  }
  return plan;
}

PlacementPlan make_placement_plan(Threading threading, const Topology& topology) {
  switch (threading) {
  case Threading::numa:
    return make_numa_plan(topology);
  case Threading::phte:
    return make_phte_plan(topology);
  case Threading::os:
    break;
  }
  return {};
}

void apply_placement(const Machine& machine, const PlacementPlan& plan,
                     std::uint32_t thread_index) {
  if (thread_index < plan.size()) {
    machine.pin_current_thread(plan[thread_index]);
  }
}

} // namespace velto
