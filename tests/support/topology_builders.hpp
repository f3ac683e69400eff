// Recorded machines for the topology tests: neutral records by hand, and the
// tree written as one line that a failed expectation shows whole.
#pragma once

#include "platform/topology.hpp"
#include "platform/topology_records.hpp"

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace velto::testing {

inline TopologyRecord core(std::uint8_t efficiency_class, std::vector<GroupAffinity> affinities) {
  return {RecordKind::core, efficiency_class, 0, std::move(affinities), std::nullopt};
}

inline TopologyRecord node(std::uint32_t number, std::vector<GroupAffinity> affinities) {
  return {RecordKind::numa_node, 0, number, std::move(affinities), std::nullopt};
}

inline TopologyRecord l3(std::vector<GroupAffinity> affinities) {
  return {RecordKind::l3_cache, 0, 0, std::move(affinities), std::nullopt};
}

/// "levels=L c<core>@n<node>/l<cache>/p<level>[group:os,...] ...", in tree order.
inline std::string layout(const Topology& topology) {
  std::ostringstream out;
  out << "levels=" << topology.perf_level_count;
  for (const NumaNode& numa : topology.nodes) {
    for (const Llc& llc : numa.llcs) {
      for (const Core& c : llc.cores) {
        out << " c" << c.id << "@n" << numa.id << "/l" << llc.id << "/p" << c.perf_level << "[";
        for (const LogicalProcessor& logical : c.logicals) {
          out << (logical.idx ? "," : "") << logical.group << ":" << logical.os;
        }
        out << "]";
      }
    }
  }
  return out.str();
}

} // namespace velto::testing
