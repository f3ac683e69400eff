// The processor topology tree and its printout: only code that is the same on
// every OS. The OS folders turn the system's report into records for it.
#include "platform/topology.hpp"

#include "platform/topology_records.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace velto {
namespace {

using ProcessorKey = std::pair<std::uint16_t, std::uint32_t>; // (group, bit)

// Calls visit(group, bit) for every set bit of every affinity, in order.
template <class Visit>
void for_each_processor(const std::vector<GroupAffinity>& affinities, std::uint32_t mask_width,
                        Visit visit) {
  const std::uint32_t width = std::min<std::uint32_t>(mask_width, 64);
  for (const GroupAffinity& affinity : affinities) {
    for (std::uint32_t bit = 0; bit < width; ++bit) {
      if ((affinity.mask >> bit) & 1u) {
        visit(affinity.group, bit);
      }
    }
  }
}

std::uint32_t lookup(const std::map<ProcessorKey, std::uint32_t>& table, ProcessorKey key) {
  const auto found = table.find(key);
  return found == table.end() ? 0 : found->second;
}

// The NUMA node and the level-3 cache (by ordinal) of each processor; a
// processor no record places is in node 0 and cache 0 (lookup).
struct ProcessorHomes {
  std::map<ProcessorKey, std::uint32_t> node_of;
  std::map<ProcessorKey, std::uint32_t> llc_of;
};

ProcessorHomes processor_homes(const TopologyRecords& records) {
  ProcessorHomes homes;
  std::uint32_t llc_position = 0;
  for (const TopologyRecord& record : records.records) {
    if (record.kind == RecordKind::numa_node) {
      for_each_processor(record.affinities, records.mask_width,
                         [&](std::uint16_t group, std::uint32_t bit) {
                           homes.node_of[{group, bit}] = record.node_number;
                         });
    } else if (record.kind == RecordKind::l3_cache) {
      const std::uint32_t llc_ordinal = record.ordinal.value_or(llc_position);
      for_each_processor(record.affinities, records.mask_width,
                         [&](std::uint16_t group, std::uint32_t bit) {
                           homes.llc_of[{group, bit}] = llc_ordinal;
                         });
      ++llc_position;
    }
  }
  return homes;
}

// node -> cache ordinal -> cores in ascending core ordinal; a core's
// perf_level holds its efficiency class until the levels are ranked.
using FiledCores = std::map<std::uint32_t, std::map<std::uint32_t, std::vector<Core>>>;

// Files the core of `record`, numbered `position` unless the record carries
// its ordinal, under the node of its last processor and the cache of its first.
void file_core(const TopologyRecord& record, std::uint32_t position, std::uint32_t mask_width,
               const ProcessorHomes& homes, FiledCores& filed) {
  Core core;
  core.id = record.ordinal.value_or(position);
  core.perf_level = record.efficiency_class;
  std::uint32_t node = 0;
  for_each_processor(record.affinities, mask_width, [&](std::uint16_t group, std::uint32_t bit) {
    node = lookup(homes.node_of, {group, bit});
    core.logicals.push_back(
        {static_cast<std::uint32_t>(core.logicals.size()), core.id, bit, group});
  });
  const std::uint32_t llc =
      core.logicals.empty()
          ? 0
          : lookup(homes.llc_of, {core.logicals.front().group, core.logicals.front().os});
  filed[node][llc].push_back(std::move(core));
}

FiledCores file_cores(const TopologyRecords& records, const ProcessorHomes& homes) {
  FiledCores filed;
  std::uint32_t core_position = 0;
  for (const TopologyRecord& record : records.records) {
    if (record.kind == RecordKind::core) {
      file_core(record, core_position, records.mask_width, homes, filed);
      ++core_position;
    }
  }
  return filed;
}

// The performance level of each efficiency class the core records name: the
// highest class is the fastest and gets level 0.
std::map<std::uint32_t, std::uint32_t> perf_level_of_class(const TopologyRecords& records) {
  std::set<std::uint8_t> classes;
  for (const TopologyRecord& record : records.records) {
    if (record.kind == RecordKind::core) {
      classes.insert(record.efficiency_class);
    }
  }
  std::map<std::uint32_t, std::uint32_t> level_of_class;
  for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
    level_of_class.emplace(*it, static_cast<std::uint32_t>(level_of_class.size()));
  }
  return level_of_class;
}

} // namespace

Topology build_topology(const TopologyRecords& records) {
  FiledCores filed = file_cores(records, processor_homes(records));
  const std::map<std::uint32_t, std::uint32_t> level_of_class = perf_level_of_class(records);

  Topology topology;
  topology.perf_level_count = static_cast<std::uint32_t>(level_of_class.size());
  for (auto& [node_id, llcs] : filed) {
    NumaNode& node = topology.nodes.emplace_back();
    node.id = node_id;
    for (auto& [llc_id, cores] : llcs) {
      Llc& llc = node.llcs.emplace_back();
      llc.id = llc_id;
      for (Core& core : cores) {
        core.perf_level = level_of_class.at(core.perf_level);
      }
      llc.cores = std::move(cores);
    }
  }
  return topology;
}

void print_topology(const Topology& topology, std::ostream& out) {
  // fmt rather than operator<<, so the stream's locale and flags cannot change
  // the numbers.
  out << fmt::format("perf_level_count={}\n", topology.perf_level_count);
  for (const NumaNode& node : topology.nodes) {
    out << fmt::format("numa node id={}\n", node.id);
    for (const Llc& llc : node.llcs) {
      out << fmt::format("|--llc id={}\n", llc.id);
      for (const Core& core : llc.cores) {
        out << fmt::format("|  |--core id={} perf_level={}\n", core.id, core.perf_level);
        for (const LogicalProcessor& logical : core.logicals) {
          out << fmt::format("|  |  |--logical idx={} os={}\n", logical.idx, logical.os);
        }
      }
    }
  }
}

} // namespace velto
