// Page rounding and /proc/meminfo reading: only code that is the same on every OS.
#include "platform/memory_os.hpp"

#include "platform/text_lines.hpp"

#include <string>

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
  const std::optional<std::string_view> found = line_after(meminfo, std::string(key) + ":");
  if (!found) {
    return 0;
  }
  const std::string_view value = *found;
  std::size_t i = 0;
  while (i < value.size() && value[i] == ' ') {
    ++i;
  }
  std::uint64_t kib = 0;
  bool any_digit = false;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(value[i] - '0');
    if (kib > (UINT64_MAX - digit) / 10) {
      return 0;
    }
    kib = kib * 10 + digit;
    any_digit = true;
  }
  if (!any_digit || value.substr(i) != " kB" || kib > UINT64_MAX / 1024) {
    return 0;
  }
  return kib * 1024;
}

} // namespace velto
