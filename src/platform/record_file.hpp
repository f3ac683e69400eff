// Files a user keeps (result records): the path is checked before the work
// that fills it starts, and the file is written whole or not at all, through a
// temporary file beside it that is then renamed over it.
#pragma once

#include <string>
#include <string_view>

namespace velto {

/// The temporary file a write of `path` goes through: "<path>.tmp", in the
/// same directory, so that the rename never crosses file systems.
std::string temporary_path_for(std::string_view path);

/// Why `path` cannot be created or replaced ("Is a directory", "No such file
/// or directory", "Permission denied", ...); empty when it can. Proves it by
/// creating and removing the temporary file beside it.
std::string check_writable_file(const std::string& path);

/// Writes `content` to the temporary file beside `path`, flushes it to the
/// disk, then renames it over `path`. Returns empty on success, else the
/// reason; a failure removes the temporary file and leaves `path` as it was.
std::string replace_file(const std::string& path, std::string_view content);

} // namespace velto
