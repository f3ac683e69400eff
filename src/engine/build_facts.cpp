// The program itself.
#include "engine/build_facts.hpp"

#include "engine/version.hpp"
#include "platform/system_info.hpp"

#include <fmt/format.h>

namespace velto {

BuildFacts live_build_facts() {
  return {std::string(velto_version), std::string(build_os()), std::string(build_arch()),
          std::string(compiler_id()), std::string(compiler_version())};
}

std::string version_line(const BuildFacts& build) {
  std::string compiler = build.compiler_id == "gcc"     ? "GCC"
                         : build.compiler_id == "clang" ? "Clang"
                                                        : build.compiler_id;
  const std::string& text = build.compiler_version;
  const auto digit_at = [&text](std::size_t i) {
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
  };
  const auto skip_digits = [&digit_at](std::size_t i) {
    while (digit_at(i)) {
      ++i;
    }
    return i;
  };
  std::size_t at = 0;
  while (at < text.size() && !digit_at(at)) {
    ++at;
  }
  std::size_t end = skip_digits(at); // the major number
  if (end > at && end < text.size() && text[end] == '.' && digit_at(end + 1)) {
    end = skip_digits(end + 1); // and the minor one
  }
  if (end > at) {
    compiler += ' ';
    compiler.append(text, at, end - at);
  }
  return fmt::format("velto {} ({} {}, {})", build.version, build.os, build.arch, compiler);
}

} // namespace velto
