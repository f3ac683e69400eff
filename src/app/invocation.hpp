// How an invocation that measures ended, and what follows from it: the
// prompt and the exit status.
#pragma once

#include <cstdint>

namespace velto {

/// How a series or a stability test ended; the prompt and the exit status follow from it.
enum class SeriesEnd : std::uint8_t {
  refused,       ///< the record's path was refused; nothing ran
  interrupted,   ///< the user stopped a run, and with it the series
  invalid,       ///< every run ended, and at least one was invalid
  not_recorded,  ///< every run was valid, but the record could not be written
  valid,         ///< every run was valid, and the record (if asked for) written
  ended_by_user, ///< a stability test of no set time, ended by Ctrl-C without an error
};

/// Whether the program asks for Enter before it exits: not when nothing ran
/// or the user asked to stop.
bool waits_for_enter(SeriesEnd end);

/// 0 for a valid series, 1 otherwise.
int exit_status(SeriesEnd end);

} // namespace velto
