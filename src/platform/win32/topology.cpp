// Windows only: the processor topology of this machine, read with
// GetLogicalProcessorInformationEx, as far as the process may use it.
#include "platform/topology.hpp"
#include "platform/affinity.hpp"
#include "platform/topology_records.hpp"
#include "platform/win32/windows.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace velto {
namespace {

// The portable parser reads the buffer by these offsets; mingw's header lacks
// EfficiencyClass and the newer GroupCount members but agrees on the rest.
using Information = SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX;
static_assert(offsetof(Information, Processor.GroupCount) == 30);
static_assert(offsetof(Information, Processor.GroupMask) == 32);
static_assert(offsetof(Information, NumaNode.NodeNumber) == 8);
static_assert(offsetof(Information, NumaNode.GroupMask) == 32);
static_assert(offsetof(Information, Cache.Level) == 8);
static_assert(offsetof(Information, Cache.GroupMask) == 40);
static_assert(sizeof(GROUP_AFFINITY) == sizeof(void*) + 8);

} // namespace

Topology detect_topology() {
  try {
    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
    if (length == 0) {
      return {};
    }
    // Whole 64-bit words keep the records as aligned as the system expects.
    std::vector<std::uint64_t> buffer((length + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()),
            &length)) {
      return {};
    }
    const auto bytes =
        std::as_bytes(std::span(buffer))
            .first(std::min<std::size_t>(length, buffer.size() * sizeof(std::uint64_t)));
    return build_topology(restrict_to_processors(parse_processor_information(bytes, sizeof(void*)),
                                                 allowed_processors()));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

} // namespace velto
