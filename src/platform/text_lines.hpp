// Lines of the small text files the probes read (/proc/meminfo, /proc/stat,
// /etc/os-release): one way to walk them, so that every reader splits them
// alike.
#pragma once

#include <optional>
#include <string_view>

namespace velto {

/// Calls `visit` with each line of `text`, without its line feed; a last line
/// without one counts, an empty text has no line.
template <typename Visit> void for_each_line(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    visit(text.substr(start, end - start));
    start = end + 1;
  }
}

/// The rest of the first line of `text` that begins with `prefix`; nothing
/// when no line does.
inline std::optional<std::string_view> line_after(std::string_view text, std::string_view prefix) {
  std::optional<std::string_view> found;
  for_each_line(text, [&](std::string_view line) {
    if (!found && line.substr(0, prefix.size()) == prefix) {
      found = line.substr(prefix.size());
    }
  });
  return found;
}

} // namespace velto
