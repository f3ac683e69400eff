// What a result record says about the operating system and the build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velto {

struct SystemInfo {
  std::string os_name;    ///< "Debian GNU/Linux 12 (bookworm)", "Windows"; empty when unknown
  std::string os_version; ///< kernel release or Windows build; empty when unknown
  std::uint64_t total_memory_bytes = 0; ///< installed physical memory; 0 when unknown
};

/// The live values of this machine. Never fails: what cannot be read stays empty or 0.
SystemInfo probe_system_info();

/// The PRETTY_NAME of an /etc/os-release text, unquoted; empty when absent.
std::string parse_os_release_name(std::string_view text);

/// "linux" or "windows": the OS this program was built for.
std::string_view build_os();
/// "x86" or "x86_64": the architecture this program was built for.
std::string_view build_arch();
/// The compiler's id ("gcc", "clang") and its version text.
std::string_view compiler_id();
std::string_view compiler_version();

} // namespace velto
