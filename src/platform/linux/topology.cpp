// Linux only: the processor topology of this machine, read through hwloc, as
// far as the process may use it.
#include "platform/topology.hpp"
#include "platform/affinity.hpp"
#include "platform/linux/hwloc_records.hpp"

#include <new>

namespace velto {

Topology detect_topology() {
  try {
    const auto host = linux_os::HwlocTopology::from_host();
    if (!host.loaded()) {
      return {};
    }
    return build_topology(
        restrict_to_processors(linux_os::records_from_hwloc(host), allowed_processors()));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

} // namespace velto
