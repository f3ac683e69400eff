// Linux only: pinning the calling thread, with processor groups of 64 as the
// topology numbers them.
#include "platform/affinity.hpp"

#include <pthread.h>
#include <sched.h>

namespace velto {

void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask) {
  if (mask == 0) {
    return; // an empty set is refused anyway; the thread keeps its affinity
  }
  const int first = group * 64;
  const int count = first + 64;
  cpu_set_t* set = CPU_ALLOC(count);
  if (set == nullptr) {
    return;
  }
  const std::size_t size = CPU_ALLOC_SIZE(count);
  CPU_ZERO_S(size, set);
  for (int bit = 0; bit < 64; ++bit) {
    if ((mask >> bit) & 1u) {
      CPU_SET_S(static_cast<std::size_t>(first + bit), size, set);
    }
  }
  // On failure the thread keeps the affinity it had; nothing to report.
  pthread_setaffinity_np(pthread_self(), size, set);
  CPU_FREE(set);
}

} // namespace velto
