// Memory services for the field arrays: 64-byte-aligned heap blocks, large
// pages, the available physical memory, and the byte and frequency formatters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace velto {

/// Enables what large pages need (once per process, safe when entered by
/// several threads at once) and returns the large-page size in bytes; 0 when
/// the system offers none. Every call returns the same value.
std::size_t init_large_pages();

/// Committed read-write large-page memory of `size` bytes rounded up to the
/// large-page size, or null. Never falls back to ordinary pages.
void* alloc_large_pages(std::size_t size);

/// Releases a block from alloc_large_pages; null does nothing.
void free_large_pages(void* block);

/// A heap block of `size` bytes aligned to 64 bytes, or null.
void* alloc_aligned(std::size_t size);

/// Releases a block from alloc_aligned; null does nothing.
void free_aligned(void* block);

/// Bytes of physical memory currently available, or 0 when the query fails.
std::uint64_t available_physical_memory();

/// `size` rounded up to a multiple of `page`, computed in the size type as
/// (size + page - 1) & -page; 0 when `page` is 0 (no large pages), and 0 when
/// the rounding wraps.
std::size_t round_up_to_page(std::size_t size, std::size_t page);

/// The value in bytes of the "Key:   N kB" line of a /proc/meminfo text, or 0
/// when the key is absent or malformed.
std::uint64_t parse_meminfo_bytes(std::string_view meminfo, std::string_view key);

/// The account of what the process's field blocks hold against the memory the
/// machine can back. Linux (and Wine on it) overcommits: a block it cannot back
/// is granted all the same, and the process is killed later while the block is
/// zeroed. The ledger refuses such a block at allocation instead. Its budget is
/// the available memory sampled when the ledger goes from empty to holding
/// something, less a margin for the rest of the process and the system.
/// Thread-safe.
class MemoryLedger {
public:
  /// Bytes available now, 0 when unknown.
  using AvailableQuery = std::function<std::uint64_t()>;

  explicit MemoryLedger(AvailableQuery available);

  /// Takes `bytes` from the budget; false, taking nothing, when they do not fit.
  bool reserve(std::uint64_t bytes);
  /// Gives back bytes that reserve took.
  void release(std::uint64_t bytes);
  /// Bytes held now.
  std::uint64_t reserved() const;
  /// Replaces the query; it is asked the next time the ledger leaves empty.
  void set_query(AvailableQuery available);

private:
  mutable std::mutex lock_;
  AvailableQuery available_;
  std::uint64_t reserved_ = 0;
  std::uint64_t budget_ = 0;
};

/// What may be held out of `available` bytes: all but a margin of 1/32 of it
/// (at least 128 MiB, at most 1 GiB). A failed query (0) limits nothing, so the
/// machine's allocator alone decides, as it would without the ledger.
std::uint64_t ledger_budget(std::uint64_t available);

/// What a block of `size` bytes is charged: its whole 4 KiB pages plus one page
/// for the allocator's own bookkeeping.
std::uint64_t ledger_charge(std::uint64_t size);

/// False when a request of `size` bytes plus an allocator's few bytes of
/// alignment and header would wrap a size type whose largest value is
/// `size_max` (the runtime's allocators must never see such a request).
bool block_request_fits(std::uint64_t size, std::uint64_t size_max = SIZE_MAX);

/// The process's ledger, charged by alloc_aligned, and by alloc_large_pages
/// where large pages are not reserved by the system when they are mapped.
MemoryLedger& process_memory_ledger();

/// Replaces the process ledger's query (tests); an empty function restores
/// available_physical_memory.
void set_available_memory_query(MemoryLedger::AvailableQuery query);

/// For the OS implementations: calls `allocate(size)` when the process's ledger
/// can take `ledger_charge(size)`, and remembers what the block was charged.
/// Null, holding nothing, when the ledger refuses or the allocation fails;
/// `release` frees the block when its charge cannot be remembered.
void* charged_allocation(std::size_t size, void* (*allocate)(std::size_t), void (*release)(void*));

/// For the OS implementations: frees `block` with `release` and gives its
/// charge back. Null does nothing; a block the ledger never charged is freed.
void charged_release(void* block, void (*release)(void*));

/// "1023 B", "1.50 KiB", … "16.00 EiB".
std::string format_bytes(std::uint64_t bytes);

/// "999 Hz", "1.00 KHz", "2.99 GHz": decimal prefixes K to E before `unit`.
std::string format_quantity(std::uint64_t value, std::string_view unit);

} // namespace velto
