// The build facts and the os-release parser: only code that is the same on every OS.
#include "platform/system_info.hpp"

#include "platform/compiler.hpp"
#include "platform/text_lines.hpp"

namespace velto {

std::string parse_os_release_name(std::string_view text) {
  const std::optional<std::string_view> found = line_after(text, "PRETTY_NAME=");
  if (!found) {
    return {};
  }
  std::string_view value = *found;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
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
