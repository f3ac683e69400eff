// What the OS memory files and the portable memory code share: decisions,
// portable so that tests can feed them any machine's values, and the raw heap
// blocks each OS file provides for alloc_aligned (platform/memory.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velto {

/// `size` rounded up to a multiple of `page`, computed in the size type as
/// (size + page - 1) & -page; 0 when `page` is 0 (no large pages), and 0 when
/// the rounding wraps.
std::size_t round_up_to_page(std::size_t size, std::size_t page);

/// The value in bytes of the "Key:   N kB" line of a /proc/meminfo text, or 0
/// when the key is absent or malformed.
std::uint64_t parse_meminfo_bytes(std::string_view meminfo, std::string_view key);

/// A block of `size` bytes, aligned to at least 64 bytes, from the OS's heap
/// and charged to nothing, or null. Only alloc_aligned calls it.
void* os_alloc_aligned(std::size_t size);

/// Releases a block from os_alloc_aligned.
void os_free_aligned(void* block);

} // namespace velto
