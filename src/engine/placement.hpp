// The automatic thread count and the plans that say on which logical processor
// each worker runs.
#pragma once

#include "platform/machine.hpp"
#include "platform/name_table.hpp"
#include "platform/topology.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace velto {

/// Who places the worker threads: the operating system, or one of the two plans.
enum class Threading : std::uint8_t { os, numa, phte };

/// The threading managers and their names, in the order the parser lists them.
inline constexpr NameTable<Threading, 3> threading_table = {{
    {Threading::os, "os"},
    {Threading::numa, "numa"},
    {Threading::phte, "phte"},
}};

/// Entry k is the processor of worker k; may be shorter or longer than the
/// thread count (threads beyond its end stay unpinned).
using PlacementPlan = std::vector<LogicalProcessor>;

struct ThreadPlan {
  std::uint32_t thread_count = 1;
  PlacementPlan plan;
};

/// Cores of one LLC of one node and of one performance level, in core order.
using CoreGroup = std::vector<const Core*>;

struct CoreGroups {
  std::vector<CoreGroup> groups;  ///< by LLC position first, node second
  std::uint32_t max_logicals = 0; ///< most logical processors of any core in them
};

/// List j holds the SMT-index-j processors.
using SmtLists = std::vector<std::vector<const LogicalProcessor*>>;

/// Cores summed over every LLC of every node; `system_logicals` when there is no node.
std::uint32_t core_count(const Topology& topology, std::uint32_t system_logicals);

/// The core count, limited by how many threads' fields the memory ledger grants
/// out of `available_memory` (no limit when that is 0 or below one thread's
/// need); at least 1.
std::uint32_t auto_thread_count(const Topology& topology, std::uint64_t grid_size,
                                std::uint64_t available_memory, std::uint32_t system_logicals);

/// The groups of performance level `level`; cores without processors are skipped.
CoreGroups collect_core_groups(const Topology& topology, std::uint32_t level);

/// Appends processor j of every core to list j, core rank by core rank across
/// the groups; processors beyond the number of lists are left out.
void distribute_logicals(SmtLists& lists, const std::vector<CoreGroup>& groups);

/// SMT index first, then performance level, core rank and group. Empty without nodes.
PlacementPlan make_numa_plan(const Topology& topology);

/// Performance level first, then SMT index, core rank and group. Empty without nodes.
PlacementPlan make_phte_plan(const Topology& topology);

/// The plan of `threading`: empty for the operating system's placement.
PlacementPlan make_placement_plan(Threading threading, const Topology& topology);

/// Pins the calling thread through `machine` to its entry of `plan`; without an
/// entry it stays as it was.
void apply_placement(const Machine& machine, const PlacementPlan& plan, std::uint32_t thread_index);

} // namespace velto
