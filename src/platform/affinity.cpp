// Thread affinity: only code that is the same on every OS.
#include "platform/affinity.hpp"

#include <thread>

namespace velto {

std::uint64_t group_affinity_mask(std::uint32_t os) {
  // A group's mask is as wide as a pointer: 32 processors in 32-bit builds.
  constexpr std::uint32_t kWidth = sizeof(void*) * 8;
  return os < kWidth ? std::uint64_t{1} << os : 0;
}

std::uint32_t logical_processor_count() {
  const std::uint32_t allowed = processor_count(allowed_processors());
  return allowed != 0 ? allowed : std::thread::hardware_concurrency();
}

} // namespace velto
