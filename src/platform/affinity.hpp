// Pinning the calling thread to one logical processor, and the processors the
// process may use.
#pragma once

#include "platform/topology_records.hpp"

#include <cstdint>

namespace velto {

/// The affinity mask of one processor group as the platform knows it: 32 bits in
/// 32-bit builds, 64 in 64-bit builds. 0 when `os` lies beyond its width.
std::uint64_t group_affinity_mask(std::uint32_t os);

/// Sets the calling thread's affinity to `mask` within processor `group`. The
/// result is not reported: on failure the thread keeps its previous affinity.
void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask);

/// The logical processors the process may run on (taskset, numactl, a
/// container's cpuset, the process affinity mask), numbered as the topology's
/// records number them, whichever thread asks. Empty when the query fails and
/// on a Windows machine of more than one processor group (no restriction there).
ProcessorSet allowed_processors();

/// Logical processors the process may use; those the system reports when
/// `allowed_processors` is empty. Used when the topology is empty.
std::uint32_t logical_processor_count();

} // namespace velto
