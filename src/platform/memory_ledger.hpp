// The account of what the process's field blocks hold against the memory the
// machine can back, the blocks it holds, and the allocation helpers that
// charge it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace velto {

/// The account of what the process's field blocks hold against the memory the
/// machine can back. Linux (and Wine on it) overcommits: a block it cannot back
/// is granted all the same, and the process is killed later while the block is
/// zeroed. The ledger refuses such a block at allocation instead. Its budget is
/// the available memory sampled when the ledger goes from empty to holding
/// something, less a margin for the rest of the process and the system.
/// It also remembers each block it was told of, with its size and its charge,
/// so that a block is released by its pointer alone. Thread-safe.
class MemoryLedger {
public:
  /// Bytes available now, 0 when unknown.
  using AvailableQuery = std::function<std::uint64_t()>;

  /// What the ledger remembers of a block.
  struct Block {
    std::size_t size = 0;     ///< bytes the block was allocated with
    std::uint64_t charge = 0; ///< what reserve took for it; 0 for a block not charged
  };

  explicit MemoryLedger(AvailableQuery available);

  /// Takes `bytes` from the budget; false, taking nothing, when they do not fit.
  bool reserve(std::uint64_t bytes);
  /// Gives back bytes that reserve took.
  void release(std::uint64_t bytes);
  /// Bytes held now.
  std::uint64_t reserved() const;
  /// Asks the query now and returns its figure. While the ledger is empty the
  /// figure is kept, and the next busy period is measured against it instead
  /// of a new sample: what a caller plans from it is what the ledger grants.
  std::uint64_t sample_available();

  /// Remembers `block` as `what` until forget(block). Throws std::bad_alloc
  /// when it cannot, remembering nothing.
  void remember(void* block, Block what);
  /// What was remembered of `block`, forgetting it; none for a block the ledger
  /// does not know.
  std::optional<Block> forget(void* block);

private:
  mutable std::mutex lock_;
  AvailableQuery available_;
  std::uint64_t reserved_ = 0;
  std::uint64_t budget_ = 0;
  bool sampled_ = false; ///< budget_ holds a kept sample for the next busy period
  std::unordered_map<void*, Block> blocks_;
};

/// What may be held out of `available` bytes: all but a margin of 1/32 of it
/// (at least 128 MiB, at most 1 GiB). A failed query (0) limits nothing, so the
/// machine's allocator alone decides, as it would without the ledger.
std::uint64_t ledger_budget(std::uint64_t available);

/// What a block of `size` bytes is charged: its whole 4 KiB pages plus one page
/// for the allocator's own bookkeeping.
std::uint64_t ledger_charge(std::uint64_t size);

/// How many sets of `blocks` blocks of `block_size` bytes each a ledger grants
/// out of `available` bytes (its budget over their charges): the rule the
/// automatic thread count shares with the ledger. UINT64_MAX when the figure
/// is unknown (0), which limits nothing; 0 when not even one set fits.
std::uint64_t ledger_sets_that_fit(std::uint64_t available, std::uint64_t block_size,
                                   std::uint64_t blocks);

/// False when a request of `size` bytes plus an allocator's few bytes of
/// alignment and header would wrap a size type whose largest value is
/// `size_max` (the runtime's allocators must never see such a request):
/// SIZE_MAX for this build's allocators.
bool block_request_fits(std::uint64_t size, std::uint64_t size_max);

/// The process's ledger, charged by alloc_aligned, and by alloc_large_pages
/// where large pages are not reserved by the system when they are mapped;
/// where they are (Linux), it remembers their mappings' lengths uncharged.
MemoryLedger& process_memory_ledger();

/// Calls `allocate(size)` when `ledger` can take `ledger_charge(size)`, and
/// has the ledger remember the block. Null, holding nothing, when the ledger
/// refuses or the allocation fails; `release` frees the block when the ledger
/// cannot remember it.
void* charged_allocation(MemoryLedger& ledger, std::size_t size, void* (*allocate)(std::size_t),
                         void (*release)(void*));

/// Frees `block` with `release` and gives its charge back to `ledger`. Null
/// does nothing; a block never charged is freed.
void charged_release(MemoryLedger& ledger, void* block, void (*release)(void*));

} // namespace velto
