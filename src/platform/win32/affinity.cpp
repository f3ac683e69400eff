// Windows only: pinning the calling thread within a processor group.
#include "platform/affinity.hpp"
#include "platform/win32/windows.hpp"

namespace velto {

void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask) {
  GROUP_AFFINITY affinity{};
  affinity.Mask = static_cast<KAFFINITY>(mask);
  affinity.Group = group;
  // On failure the thread keeps the affinity it had; nothing to report.
  SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

} // namespace velto
