// Linux only: turning an hwloc topology into processor-relationship records.
#include "platform/linux/hwloc_records.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace velto::linux_os {
namespace {

constexpr unsigned kGroupWidth = 64;
// Group numbers are 16-bit; processors beyond the last group cannot be named.
constexpr unsigned kProcessorLimit = (UINT16_MAX + 1u) * kGroupWidth;

// Creates a topology, lets `configure` choose its source, and loads it; null
// when any step fails.
template <class Configure> hwloc_topology_t load_topology(Configure configure) {
  hwloc_topology_t topology = nullptr;
  if (hwloc_topology_init(&topology) != 0) {
    return nullptr;
  }
  if (configure(topology) != 0 || hwloc_topology_load(topology) != 0) {
    hwloc_topology_destroy(topology);
    return nullptr;
  }
  return topology;
}

std::vector<GroupAffinity> group_affinities(hwloc_const_cpuset_t cpuset) {
  std::vector<GroupAffinity> affinities;
  if (cpuset == nullptr) {
    return affinities;
  }
  for (int bit = hwloc_bitmap_first(cpuset); bit >= 0; bit = hwloc_bitmap_next(cpuset, bit)) {
    const auto processor = static_cast<unsigned>(bit);
    if (processor >= kProcessorLimit) {
      break; // also ends an infinite set
    }
    const auto group = static_cast<std::uint16_t>(processor / kGroupWidth);
    if (affinities.empty() || affinities.back().group != group) {
      affinities.push_back({0, group});
    }
    affinities.back().mask |= std::uint64_t{1} << (processor % kGroupWidth);
  }
  return affinities;
}

// The efficiency class of every processor that some CPU kind covers: hwloc
// ranks kinds from 0, the most frugal, upwards, the same direction as the
// Windows EfficiencyClass. A machine with one kind or none, or whose kinds
// hwloc could not rank, has one class.
class KindClasses {
public:
  explicit KindClasses(hwloc_topology_t topology) {
    const int count = hwloc_cpukinds_get_nr(topology, 0);
    if (count < 2) {
      return;
    }
    for (int kind = 0; kind < count; ++kind) {
      hwloc_bitmap_t cpuset = hwloc_bitmap_alloc();
      int efficiency = -1;
      if (cpuset == nullptr ||
          hwloc_cpukinds_get_info(topology, static_cast<unsigned>(kind), cpuset, &efficiency,
                                  nullptr, nullptr, 0) != 0 ||
          efficiency < 0) {
        hwloc_bitmap_free(cpuset);
        clear();
        return;
      }
      kinds_.emplace_back(cpuset, static_cast<std::uint8_t>(std::min(efficiency, UINT8_MAX)));
    }
  }
  KindClasses(const KindClasses&) = delete;
  KindClasses& operator=(const KindClasses&) = delete;
  ~KindClasses() { clear(); }

  /// The class of the kind that holds `processor`; 0 when no kind does.
  std::uint8_t class_of(int processor) const {
    for (const auto& [cpuset, efficiency] : kinds_) {
      if (hwloc_bitmap_isset(cpuset, static_cast<unsigned>(processor))) {
        return efficiency;
      }
    }
    return 0;
  }

private:
  void clear() {
    for (auto& kind : kinds_) {
      hwloc_bitmap_free(kind.first);
    }
    kinds_.clear();
  }
  std::vector<std::pair<hwloc_bitmap_t, std::uint8_t>> kinds_;
};

} // namespace

HwlocTopology HwlocTopology::from_host() {
  return HwlocTopology(load_topology([](hwloc_topology_t) { return 0; }));
}

HwlocTopology HwlocTopology::from_synthetic(const std::string& description) {
  return HwlocTopology(load_topology([&](hwloc_topology_t topology) {
    return hwloc_topology_set_synthetic(topology, description.c_str());
  }));
}

HwlocTopology HwlocTopology::from_xml(const std::string& xml) {
  if (xml.size() >= static_cast<std::size_t>(INT32_MAX)) {
    return {};
  }
  return HwlocTopology(load_topology([&](hwloc_topology_t topology) {
    // hwloc wants the length with the terminating null.
    return hwloc_topology_set_xmlbuffer(topology, xml.c_str(), static_cast<int>(xml.size() + 1));
  }));
}

HwlocTopology::HwlocTopology(HwlocTopology&& other) noexcept
    : topology_(std::exchange(other.topology_, nullptr)) {}

HwlocTopology& HwlocTopology::operator=(HwlocTopology&& other) noexcept {
  if (this != &other) {
    if (topology_ != nullptr) {
      hwloc_topology_destroy(topology_);
    }
    topology_ = std::exchange(other.topology_, nullptr);
  }
  return *this;
}

HwlocTopology::~HwlocTopology() {
  if (topology_ != nullptr) {
    hwloc_topology_destroy(topology_);
  }
}

TopologyRecords records_from_hwloc(const HwlocTopology& holder) {
  TopologyRecords result;
  result.mask_width = kGroupWidth;
  if (!holder.loaded()) {
    return result;
  }
  hwloc_topology_t topology = holder.get();

  // Without core objects every processing unit stands for a core of its own.
  const hwloc_obj_type_t core_type =
      hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_CORE) > 0 ? HWLOC_OBJ_CORE : HWLOC_OBJ_PU;
  std::vector<std::pair<int, hwloc_obj_t>> cores;
  for (hwloc_obj_t core = hwloc_get_next_obj_by_type(topology, core_type, nullptr); core != nullptr;
       core = hwloc_get_next_obj_by_type(topology, core_type, core)) {
    const int first = core->cpuset != nullptr ? hwloc_bitmap_first(core->cpuset) : -1;
    if (first >= 0) {
      cores.emplace_back(first, core);
    }
  }
  std::stable_sort(cores.begin(), cores.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  const KindClasses classes(topology);
  for (const auto& [first, core] : cores) {
    TopologyRecord& record = result.records.emplace_back();
    record.kind = RecordKind::core;
    record.efficiency_class = classes.class_of(first);
    record.affinities = group_affinities(core->cpuset);
  }

  for (hwloc_obj_t node = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_NUMANODE, nullptr);
       node != nullptr; node = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_NUMANODE, node)) {
    TopologyRecord& record = result.records.emplace_back();
    record.kind = RecordKind::numa_node;
    record.node_number = node->os_index;
    record.affinities = group_affinities(node->cpuset);
  }

  for (hwloc_obj_t cache = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_L3CACHE, nullptr);
       cache != nullptr; cache = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_L3CACHE, cache)) {
    TopologyRecord& record = result.records.emplace_back();
    record.kind = RecordKind::l3_cache;
    record.affinities = group_affinities(cache->cpuset);
  }
  return result;
}

} // namespace velto::linux_os
