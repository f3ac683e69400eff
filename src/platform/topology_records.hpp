// Processor relationships as the operating system reports them, before they
// become a tree: the neutral records that every OS adapter produces.
#pragma once

#include "platform/topology.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velto {

/// A mask of logical processors within one processor group.
struct GroupAffinity {
  std::uint64_t mask = 0;
  std::uint16_t group = 0;
  friend bool operator==(const GroupAffinity&, const GroupAffinity&) = default;
};

enum class RecordKind : std::uint8_t { core, numa_node, l3_cache };

/// One processor core, NUMA node or level-3 cache.
struct TopologyRecord {
  RecordKind kind = RecordKind::core;
  std::uint8_t efficiency_class = 0; ///< cores: higher is faster
  std::uint32_t node_number = 0;     ///< NUMA nodes: the system's node number
  std::vector<GroupAffinity> affinities;
  friend bool operator==(const TopologyRecord&, const TopologyRecord&) = default;
};

/// The records in the order the system reported them.
struct TopologyRecords {
  std::uint32_t mask_width = 64; ///< bits in each affinity mask: 32 or 64
  std::vector<TopologyRecord> records;
};

/// Reads a buffer of packed SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX records as
/// written for a process with `pointer_size`-byte pointers (4 or 8). Never reads
/// outside `buffer`: a record with an impossible Size ends the walk, one too
/// short for its fields is skipped. No records for any other pointer size.
TopologyRecords parse_processor_information(std::span<const std::byte> buffer,
                                            std::size_t pointer_size);

/// The tree of the records: nodes, caches, cores and processors in ascending
/// order, performance levels ranked from the highest efficiency class down.
Topology build_topology(const TopologyRecords& records);

} // namespace velto
