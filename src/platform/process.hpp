// Process-wide settings the entry point makes once, before anything is written.
#pragma once

namespace velto {

/// Makes a write to a pipe whose reader is gone fail like any other write
/// instead of ending the process (Linux raises SIGPIPE for it; Windows has no
/// such signal and nothing is done there).
void ignore_broken_pipe();

} // namespace velto
