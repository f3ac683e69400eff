// The program itself: its version, the OS and architecture it was built for
// and the compiler, as --version prints them and the record keeps them.
#pragma once

#include <string>

namespace velto {

/// The program that runs.
struct BuildFacts {
  std::string version;
  std::string os;   ///< "windows" or "linux"
  std::string arch; ///< "x86" or "x86_64"
  std::string compiler_id;
  std::string compiler_version;
};

/// This program's build facts.
BuildFacts live_build_facts();

/// "velto 1.2.0 (windows x86, GCC 12)": the line --version prints. The compiler's
/// release is the leading "major.minor" of its version text, as much of it as
/// the text has ("12.2.0" gives 12.2, "12-posix" gives 12).
std::string version_line(const BuildFacts& build);

} // namespace velto
