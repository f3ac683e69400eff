// Decisions the OS memory files share, portable so that tests can feed them
// any machine's values.
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

} // namespace velto
