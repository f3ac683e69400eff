// Memory for the field arrays: 64-byte-aligned heap blocks, large pages, and
// the available physical memory.
#pragma once

#include <cstddef>
#include <cstdint>

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

/// What a 32-bit program's large blocks (fields, the bandwidth probe's arrays)
/// may take of its address space: of the 4 GiB a large-address-aware program
/// has, about 3 (seven threads' fields at 192 fit under 32-bit Wine).
inline constexpr std::uint64_t address_space_budget_32 = std::uint64_t{3} << 30;

} // namespace velto
