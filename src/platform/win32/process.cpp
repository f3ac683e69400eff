// Process-wide settings on Windows.
#include "platform/process.hpp"

namespace velto {

void ignore_broken_pipe() {
  // A write to a closed pipe fails with ERROR_NO_DATA; no signal ends the process.
}

} // namespace velto
