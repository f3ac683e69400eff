// The operating system's name and release and the installed memory, on Linux.
#include "platform/system_info.hpp"

#include "platform/linux/file.hpp"
#include "platform/memory_os.hpp"

#include <sys/utsname.h>

namespace velto {

SystemInfo probe_system_info() {
  SystemInfo info;
  info.os_name = parse_os_release_name(linux_os::read_text_file("/etc/os-release"));
  struct utsname names {};
  if (::uname(&names) == 0) {
    if (info.os_name.empty()) {
      info.os_name = names.sysname;
    }
    info.os_version = names.release;
  }
  info.total_memory_bytes =
      parse_meminfo_bytes(linux_os::read_text_file("/proc/meminfo"), "MemTotal");
  return info;
}

} // namespace velto
