// Record files: only code that is the same on every OS.
#include "platform/record_file.hpp"

namespace velto {

std::string temporary_path_for(std::string_view path) {
  return std::string(path) + ".tmp";
}

} // namespace velto
