// Reading kernel text files (/proc, /sys) on Linux.
#include "platform/linux/file.hpp"

#include <cstdio>

namespace velto::linux_os {

std::string read_text_file(const char* path) {
  std::string text;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    return text;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, n);
  }
  std::fclose(file);
  return text;
}

} // namespace velto::linux_os
