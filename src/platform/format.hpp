// Byte counts and frequencies as short text for the console.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velto {

/// "1023 B", "1.50 KiB", … "16.00 EiB".
std::string format_bytes(std::uint64_t bytes);

/// "999 Hz", "1.00 KHz", "2.99 GHz": decimal prefixes K to E before `unit`.
std::string format_quantity(std::uint64_t value, std::string_view unit);

} // namespace velto
