// Page rounding and /proc/meminfo reading: only code that is the same on every OS.
#include "platform/memory_os.hpp"

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

} // namespace velto
