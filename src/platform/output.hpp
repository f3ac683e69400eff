// Line output shared by every printout: each line ends with a newline and is
// flushed at once, so interleaved standard output and standard error stay in order.
#pragma once

#include <ostream>
#include <string_view>

namespace velto {

/// Writes `text`, a newline, and flushes.
inline void write_line(std::ostream& out, std::string_view text) {
  out << text << '\n';
  out.flush();
}

} // namespace velto
