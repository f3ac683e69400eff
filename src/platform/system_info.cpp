// The build facts and the os-release parser: only code that is the same on every OS.
#include "platform/system_info.hpp"

#include "platform/compiler.hpp"

namespace velto {

std::string parse_os_release_name(std::string_view text) {
  constexpr std::string_view key = "PRETTY_NAME=";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    if (line.substr(0, key.size()) == key) {
      std::string_view value = line.substr(key.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return std::string(value);
    }
    start = end + 1;
  }
  return {};
}

std::string_view build_os() {
  return VELTO_BUILD_OS;
}

std::string_view build_arch() {
  return VELTO_BUILD_ARCH;
}

std::string_view compiler_id() {
  return VELTO_COMPILER_ID;
}

std::string_view compiler_version() {
  return VELTO_COMPILER_VERSION;
}

} // namespace velto
