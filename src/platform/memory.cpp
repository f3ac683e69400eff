// Heap blocks charged to the process's memory ledger: only code that is the
// same on every OS. The OS files provide the raw blocks (os_alloc_aligned).
#include "platform/memory.hpp"

#include "platform/memory_ledger.hpp"
#include "platform/memory_os.hpp"

#include <cstdint>

namespace velto {

// The ledger decides, not the heap: Linux (and Wine on it) overcommits, grants
// what the machine cannot back, and the OOM killer strikes while the block is
// zeroed. A request near the top of the size type is refused first: the
// runtime adds its alignment slack to it, and in a 32-bit build that sum
// would wrap to a tiny block.
void* alloc_aligned(std::size_t size) {
  if (!block_request_fits(size, SIZE_MAX)) {
    return nullptr;
  }
  return charged_allocation(process_memory_ledger(), size, os_alloc_aligned, os_free_aligned);
}

void free_aligned(void* block) {
  charged_release(process_memory_ledger(), block, os_free_aligned);
}

} // namespace velto
