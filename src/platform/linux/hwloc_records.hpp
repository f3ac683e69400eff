// Linux only: the processor relationships of an hwloc topology, as the neutral
// records that the portable tree builder takes.
#pragma once

#include "platform/topology_records.hpp"

#include <hwloc.h>

#include <string>

namespace velto::linux_os {

/// Owns one hwloc topology; empty when it could not be created or loaded.
class HwlocTopology {
public:
  /// This machine as the process may use it.
  static HwlocTopology from_host();
  /// A machine described by an hwloc synthetic string ("pack:2 core:4 pu:2").
  static HwlocTopology from_synthetic(const std::string& description);
  /// A machine recorded as hwloc XML.
  static HwlocTopology from_xml(const std::string& xml);

  HwlocTopology() = default;
  HwlocTopology(HwlocTopology&& other) noexcept;
  HwlocTopology& operator=(HwlocTopology&& other) noexcept;
  HwlocTopology(const HwlocTopology&) = delete;
  HwlocTopology& operator=(const HwlocTopology&) = delete;
  ~HwlocTopology();

  bool loaded() const { return topology_ != nullptr; }
  hwloc_topology_t get() const { return topology_; }

private:
  explicit HwlocTopology(hwloc_topology_t topology) : topology_(topology) {}
  hwloc_topology_t topology_ = nullptr;
};

/// Core records in the order of their first processing unit (their efficiency
/// class ranked by hwloc's CPU kinds), then NUMA node records, then level-3 cache
/// records. Processor n is bit n % 64 of group n / 64. No records when the
/// topology is not loaded.
TopologyRecords records_from_hwloc(const HwlocTopology& topology);

} // namespace velto::linux_os
