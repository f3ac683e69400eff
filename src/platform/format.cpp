// The byte and frequency formatters: only code that is the same on every OS.
#include "platform/format.hpp"

#include <fmt/format.h>

namespace velto {

std::string format_bytes(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  auto x = static_cast<double>(bytes);
  int i = 0;
  while (x >= 1024.0 && i < 6) {
    x *= 0.0009765625;
    ++i;
  }
  if (i == 0) {
    return fmt::format("{} {}", bytes, "B");
  }
  return fmt::format("{:.2f} {}", x, kUnits[i - 1]);
}

std::string format_quantity(std::uint64_t value, std::string_view unit) {
  static constexpr const char* kPrefixes[] = {"K", "M", "G", "T", "P", "E"};
  auto x = static_cast<double>(value);
  int i = 0;
  while (x >= 1000.0 && i < 6) {
    x /= 1000.0;
    ++i;
  }
  if (i == 0) {
    return fmt::format("{} {}{}", value, "", unit);
  }
  return fmt::format("{:.2f} {}{}", x, kPrefixes[i - 1], unit);
}

} // namespace velto
