// Small helpers for reading kernel text files on Linux.
#pragma once

#include <string>

namespace velto::linux_os {

/// The whole content of a (small) file, or an empty text when it cannot be read.
std::string read_text_file(const char* path);

} // namespace velto::linux_os
