// The only header that includes <windows.h>. Everything under platform/win32
// includes this instead, so every file sees the same target version and macros.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00 // Windows 10: mingw-w64's default is too low for the group APIs.
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace velto::win32 {

/// Owns a kernel handle and closes it once.
class ScopedHandle {
public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (valid()) {
      CloseHandle(handle_);
    }
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }

private:
  HANDLE handle_ = nullptr;
};

} // namespace velto::win32
