// Processor relationships as the operating system reports them, before they
// become a tree: the neutral records that every OS adapter produces.
#pragma once

#include "platform/topology.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
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

/// A set of logical processors: one mask per processor group, numbered as the
/// records number them. Several masks of one group add up.
using ProcessorSet = std::vector<GroupAffinity>;

/// One processor core, NUMA node or level-3 cache.
struct TopologyRecord {
  RecordKind kind = RecordKind::core;
  std::uint8_t efficiency_class = 0; ///< cores: higher is faster
  std::uint32_t node_number = 0;     ///< NUMA nodes: the system's node number
  std::vector<GroupAffinity> affinities;
  /// Cores and level-3 caches: the ordinal of the record among those of its kind
  /// in the system's whole report, set when records before it were left out
  /// (restrict_to_processors). Without it, the record's position among those here.
  std::optional<std::uint32_t> ordinal;
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
/// Core and cache ids are the records' ordinals.
Topology build_topology(const TopologyRecords& records);

/// The records as a process that may run only on `allowed` sees the machine:
/// every affinity cut to the allowed processors of its group (and to the mask
/// width), and the cores, NUMA nodes and level-3 caches left without a processor
/// dropped, a core that never had one too. What is kept stays in its order, and
/// cores and caches keep the ordinal they have in the whole report, so their ids
/// in the tree are the machine's. An `allowed` without any processor (a failed
/// or empty query: a process always runs somewhere) restricts nothing; one that
/// shares no processor with the records leaves none.
TopologyRecords restrict_to_processors(const TopologyRecords& records, const ProcessorSet& allowed);

/// The number of distinct processors in `set`.
std::uint32_t processor_count(const ProcessorSet& set);

} // namespace velto
