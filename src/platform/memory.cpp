// Memory services: only code that is the same on every OS.
#include "platform/memory.hpp"

#include <fmt/format.h>

#include <cstdint>

namespace velto {

std::size_t round_up_to_page(std::size_t size, std::size_t page) {
  if (page == 0) {
    return 0;
  }
  const std::size_t rounded = (size + page - 1) & (0 - page);
  // A request within one page of the top of the address space wraps to a small
  // number; it can never be satisfied, so it must not become a tiny block.
  return rounded < size ? 0 : rounded;
}

std::uint64_t parse_meminfo_bytes(std::string_view meminfo, std::string_view key) {
  std::size_t line_start = 0;
  while (line_start < meminfo.size()) {
    std::size_t line_end = meminfo.find('\n', line_start);
    if (line_end == std::string_view::npos) {
      line_end = meminfo.size();
    }
    const std::string_view line = meminfo.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::size_t i = key.size() + 1;
    while (i < line.size() && line[i] == ' ') {
      ++i;
    }
    std::uint64_t kib = 0;
    bool any_digit = false;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
      const auto digit = static_cast<std::uint64_t>(line[i] - '0');
      if (kib > (UINT64_MAX - digit) / 10) {
        return 0;
      }
      kib = kib * 10 + digit;
      any_digit = true;
    }
    if (!any_digit || line.substr(i) != " kB" || kib > UINT64_MAX / 1024) {
      return 0;
    }
    return kib * 1024;
  }
  return 0;
}

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
