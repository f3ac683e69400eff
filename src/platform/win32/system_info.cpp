// The operating system's version and the installed memory, on Windows.
#include "platform/system_info.hpp"

#include "platform/win32/windows.hpp"

#include <string>

namespace velto {

namespace {

// RtlGetVersion tells the true version; GetVersionEx answers what the
// program's manifest claims to support.
std::string windows_version() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) {
    return {};
  }
  const auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (get_version == nullptr) {
    return {};
  }
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get_version(&version) != 0) {
    return {};
  }
  return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
         "." + std::to_string(version.dwBuildNumber);
}

} // namespace

SystemInfo probe_system_info() {
  SystemInfo info;
  info.os_name = "Windows";
  info.os_version = windows_version();
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) != 0) {
    info.total_memory_bytes = status.ullTotalPhys;
  }
  return info;
}

} // namespace velto
