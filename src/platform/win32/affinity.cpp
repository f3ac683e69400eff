// Windows only: pinning the calling thread within a processor group, and the
// processors the process may use.
#include "platform/affinity.hpp"
#include "platform/win32/windows.hpp"

#include <new>

namespace velto {

void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask) {
  GROUP_AFFINITY affinity{};
  affinity.Mask = static_cast<KAFFINITY>(mask);
  affinity.Group = group;
  // On failure the thread keeps the affinity it had; nothing to report.
  SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

ProcessorSet allowed_processors() {
  // A process mask covers one group only: on a machine of several groups the
  // topology stays whole, as before.
  if (GetActiveProcessorGroupCount() > 1) {
    return {};
  }
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    return {};
  }
  try {
    return {{static_cast<std::uint64_t>(process), 0}};
  } catch (const std::bad_alloc&) {
    return {};
  }
}

} // namespace velto
