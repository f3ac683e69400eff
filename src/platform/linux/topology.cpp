// Linux only: the processor topology of this machine, read through hwloc.
#include "platform/topology.hpp"
#include "platform/linux/hwloc_records.hpp"

#include <new>

namespace velto {

Topology detect_topology() {
  try {
    const auto host = linux_os::HwlocTopology::from_host();
    if (!host.loaded()) {
      return {};
    }
    return build_topology(linux_os::records_from_hwloc(host));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

} // namespace velto
