// Pinning the calling thread to one logical processor.
#pragma once

#include <cstdint>

namespace velto {

/// The affinity mask of one processor group as the platform knows it: 32 bits in
/// 32-bit builds, 64 in 64-bit builds. 0 when `os` lies beyond its width.
std::uint64_t group_affinity_mask(std::uint32_t os);

/// Sets the calling thread's affinity to `mask` within processor `group`. The
/// result is not reported: on failure the thread keeps its previous affinity.
void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask);

/// Logical processors the system reports; used when the topology is empty.
std::uint32_t logical_processor_count();

} // namespace velto
