// Memory services on Linux: MAP_HUGETLB large pages, posix_memalign blocks
// (transparent huge pages for large ones), MemAvailable.
#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"
#include "platform/memory_os.hpp"

#include "platform/linux/file.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <optional>

namespace velto {

std::size_t init_large_pages() {
  // Linux needs no privilege for huge pages; the size is the system default.
  static const std::size_t page_size = static_cast<std::size_t>(
      parse_meminfo_bytes(linux_os::read_text_file("/proc/meminfo"), "Hugepagesize"));
  return page_size;
}

// Huge pages come from their own pool, which MemAvailable does not count, and
// the kernel reserves them when they are mapped (mmap fails when the pool is
// short), so they are not charged to the ledger. The ledger remembers each
// mapping's length all the same: munmap needs it, and release then needs only
// the pointer, as on Windows.
void* alloc_large_pages(std::size_t size) {
  const std::size_t rounded = round_up_to_page(size, init_large_pages());
  if (rounded == 0) {
    return nullptr;
  }
  void* block = mmap(nullptr, rounded, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
  if (block == MAP_FAILED) {
    return nullptr;
  }
  process_memory_ledger().remember(block, {rounded, 0});
  return block;
}

void free_large_pages(void* block) {
  init_large_pages();
  if (block == nullptr) {
    return;
  }
  const std::optional<MemoryLedger::Block> mapping = process_memory_ledger().forget(block);
  if (!mapping) {
    return;
  }
  munmap(block, mapping->size);
}

namespace {

// Field blocks are streamed through once per half-step; on 2 MiB pages the
// walk takes far fewer TLB misses and zeroing them takes far fewer page faults.
// Transparent huge pages need a 2 MiB-aligned range and, in the kernel's
// default "madvise" mode, the hint; without them the block still works on
// ordinary pages, so the hint's result does not matter.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

} // namespace

void* os_alloc_aligned(std::size_t size) {
  void* block = nullptr;
  const std::size_t alignment = size >= kHugePage ? kHugePage : 64;
  if (posix_memalign(&block, alignment, size) != 0) {
    return nullptr;
  }
  if (alignment == kHugePage) {
    madvise(block, size, MADV_HUGEPAGE);
  }
  return block;
}

void os_free_aligned(void* block) {
  std::free(block);
}

std::uint64_t available_physical_memory() {
  return parse_meminfo_bytes(linux_os::read_text_file("/proc/meminfo"), "MemAvailable");
}

} // namespace velto
