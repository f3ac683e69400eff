// Linux only: pinning the calling thread, and the processors the process may
// use, with processor groups of 64 as the topology numbers them.
#include "platform/affinity.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace velto {
namespace {

constexpr int kGroupWidth = 64;
// Group numbers are 16-bit; processors beyond the last group cannot be named.
constexpr int kProcessorLimit = (UINT16_MAX + 1) * kGroupWidth;

// A cpu_set_t of `count` processors, freed once.
class CpuSet {
public:
  explicit CpuSet(int count) : set_(CPU_ALLOC(count)), size_(CPU_ALLOC_SIZE(count)) {
    if (set_ != nullptr) {
      CPU_ZERO_S(size_, set_);
    }
  }
  CpuSet(const CpuSet&) = delete;
  CpuSet& operator=(const CpuSet&) = delete;
  ~CpuSet() {
    if (set_ != nullptr) {
      CPU_FREE(set_);
    }
  }
  cpu_set_t* get() const { return set_; }
  std::size_t size() const { return size_; }

private:
  cpu_set_t* set_;
  std::size_t size_;
};

} // namespace

void set_current_thread_affinity(std::uint16_t group, std::uint64_t mask) {
  if (mask == 0) {
    return; // an empty set is refused anyway; the thread keeps its affinity
  }
  const int first = group * kGroupWidth;
  const CpuSet set(first + kGroupWidth);
  if (set.get() == nullptr) {
    return;
  }
  for (int bit = 0; bit < kGroupWidth; ++bit) {
    if ((mask >> bit) & 1u) {
      CPU_SET_S(static_cast<std::size_t>(first + bit), set.size(), set.get());
    }
  }
  // On failure the thread keeps the affinity it had; nothing to report.
  pthread_setaffinity_np(pthread_self(), set.size(), set.get());
}

ProcessorSet allowed_processors() {
  try {
    // The process id names the main thread: its mask is the one the process was
    // started with (threads pinned since, a worker among them, do not narrow it).
    // A set too small for the kernel's processor count is refused with EINVAL.
    for (int count = CPU_SETSIZE; count <= kProcessorLimit; count *= 2) {
      const CpuSet set(count);
      if (set.get() == nullptr) {
        return {};
      }
      if (sched_getaffinity(getpid(), set.size(), set.get()) != 0) {
        if (errno == EINVAL) {
          continue;
        }
        return {};
      }
      ProcessorSet allowed;
      for (int cpu = 0; cpu < count; ++cpu) {
        if (!CPU_ISSET_S(static_cast<std::size_t>(cpu), set.size(), set.get())) {
          continue;
        }
        const auto group = static_cast<std::uint16_t>(cpu / kGroupWidth);
        if (allowed.empty() || allowed.back().group != group) {
          allowed.push_back({0, group});
        }
        allowed.back().mask |= std::uint64_t{1} << (cpu % kGroupWidth);
      }
      return allowed;
    }
    return {};
  } catch (const std::bad_alloc&) {
    return {};
  }
}

} // namespace velto
