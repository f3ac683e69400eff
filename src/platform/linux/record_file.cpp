// Record files on Linux: open, write, fsync, rename.
#include "platform/record_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velto {

namespace {

std::string error_text(int error) {
  return std::strerror(error);
}

// A directory of that name would make the rename fail only at the end of the run.
std::string directory_problem(const std::string& path) {
  // An empty name would put the temporary file in the working directory.
  if (path.empty()) {
    return error_text(ENOENT);
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return error_text(EISDIR);
  }
  return {};
}

// Opens the temporary file beside `path` into `fd`; the problem, empty when it is open.
std::string open_temporary_beside(const std::string& path, std::string& temporary, int& fd) {
  if (std::string problem = directory_problem(path); !problem.empty()) {
    return problem;
  }
  temporary = temporary_path_for(path);
  fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? error_text(errno) : std::string();
}

} // namespace

std::string check_writable_file(const std::string& path) {
  std::string temporary;
  int fd = -1;
  if (std::string problem = open_temporary_beside(path, temporary, fd); !problem.empty()) {
    return problem;
  }
  ::close(fd);
  ::unlink(temporary.c_str());
  return {};
}

std::string replace_file(const std::string& path, std::string_view content) {
  std::string temporary;
  int fd = -1;
  if (std::string problem = open_temporary_beside(path, temporary, fd); !problem.empty()) {
    return problem;
  }
  const auto give_up = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return error_text(error);
  };
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return give_up(errno);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  // On the disk before the rename, so that a crash leaves the old file or the
  // whole new one.
  if (::fsync(fd) != 0) {
    return give_up(errno);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error_text(error);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error_text(error);
  }
  return {};
}

} // namespace velto
