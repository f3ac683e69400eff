// Memory services for the field arrays: 64-byte-aligned heap blocks, large
// pages, the available physical memory, and the byte and frequency formatters.
#pragma once

#include <cstddef>
#include <cstdint>
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

/// "1023 B", "1.50 KiB", … "16.00 EiB".
std::string format_bytes(std::uint64_t bytes);

/// "999 Hz", "1.00 KHz", "2.99 GHz": decimal prefixes K to E before `unit`.
std::string format_quantity(std::uint64_t value, std::string_view unit);

} // namespace velto
