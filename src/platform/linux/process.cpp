// Process-wide settings on Linux.
#include "platform/process.hpp"

#include <csignal>

namespace velto {

void ignore_broken_pipe() {
  // `velto --help | head -c 10` closes the pipe early; the writes then fail
  // with EPIPE, the stream turns bad, and the run and its status go on.
  std::signal(SIGPIPE, SIG_IGN);
}

} // namespace velto
