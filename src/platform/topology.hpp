// The processor topology: NUMA nodes, last-level caches, cores and logical
// processors, with a performance level per core.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

namespace velto {

struct LogicalProcessor {
  std::uint32_t idx = 0;   ///< position within its core's list
  std::uint32_t core = 0;  ///< id of its core
  std::uint32_t os = 0;    ///< processor number within its group
  std::uint16_t group = 0; ///< processor group
  friend bool operator==(const LogicalProcessor&, const LogicalProcessor&) = default;
};

struct Core {
  std::uint32_t id = 0;         ///< ordinal of the core record in the system's report
  std::uint32_t perf_level = 0; ///< 0 is the highest-performance class
  std::vector<LogicalProcessor> logicals;
};

struct Llc {
  std::uint32_t id = 0; ///< ordinal of the level-3 cache record over the whole machine
  std::vector<Core> cores;
};

struct NumaNode {
  std::uint32_t id = 0;
  std::vector<Llc> llcs;
};

struct Topology {
  std::vector<NumaNode> nodes; ///< ascending by id
  std::uint32_t perf_level_count = 0;
};

/// The holder that keeps the detected tree for the life of the process.
using TopologyCache = std::optional<Topology>;

/// Asks the operating system; the empty Topology when the query fails.
Topology detect_topology();

/// The tree, one line per node, cache, core and logical processor.
void print_topology(const Topology& topology, std::ostream& out);

} // namespace velto
