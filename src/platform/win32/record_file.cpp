// Record files on Windows: CreateFileW, WriteFile, FlushFileBuffers, MoveFileExW.
#include "platform/record_file.hpp"

#include "platform/win32/windows.hpp"

#include <string>

namespace velto {

namespace {

// Paths arrive as UTF-8; the wide API takes any name the file system allows.
std::wstring wide_path(const std::string& path) {
  if (path.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                        length);
  }
  return wide;
}

// The same words the Linux build uses for the failures a user can cause.
std::string error_text(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_NAME:
    return "No such file or directory";
  case ERROR_ACCESS_DENIED:
    return "Permission denied";
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return "No space left on device";
  default:
    return "Windows error " + std::to_string(error);
  }
}

std::string directory_problem(const std::wstring& path) {
  // An empty name would put the temporary file in the working directory.
  if (path.empty()) {
    return error_text(ERROR_PATH_NOT_FOUND);
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return "Is a directory";
  }
  return {};
}

HANDLE open_temporary(const std::wstring& temporary) {
  return CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::string check_writable_file(const std::string& path) {
  const std::wstring wide = wide_path(path);
  if (std::string problem = directory_problem(wide); !problem.empty()) {
    return problem;
  }
  const std::wstring temporary = wide_path(temporary_path_for(path));
  {
    const win32::ScopedHandle file(open_temporary(temporary));
    if (!file.valid()) {
      return error_text(GetLastError());
    }
  }
  DeleteFileW(temporary.c_str());
  return {};
}

std::string replace_file(const std::string& path, std::string_view content) {
  const std::wstring wide = wide_path(path);
  if (std::string problem = directory_problem(wide); !problem.empty()) {
    return problem;
  }
  const std::wstring temporary = wide_path(temporary_path_for(path));
  DWORD error = ERROR_SUCCESS;
  {
    const win32::ScopedHandle file(open_temporary(temporary));
    if (!file.valid()) {
      return error_text(GetLastError());
    }
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0 && error == ERROR_SUCCESS) {
      const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
      DWORD written = 0;
      if (WriteFile(file.get(), data, chunk, &written, nullptr) == 0) {
        error = GetLastError();
        break;
      }
      data += written;
      left -= written;
    }
    // On the disk before the rename, so that a crash leaves the old file or
    // the whole new one.
    if (error == ERROR_SUCCESS && FlushFileBuffers(file.get()) == 0) {
      error = GetLastError();
    }
  }
  if (error == ERROR_SUCCESS &&
      MoveFileExW(temporary.c_str(), wide.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileW(temporary.c_str());
    return error_text(error);
  }
  return {};
}

} // namespace velto
