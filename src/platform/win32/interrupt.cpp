// Interruptions on Windows: Ctrl-C, Ctrl-Break and closing the console, through
// a console control handler. Windows calls it on a thread of its own.
#include "platform/interrupt.hpp"

#include "platform/win32/windows.hpp"

namespace velto {

namespace {

// Windows ends the process when the handler of a close event returns, and at
// the latest about five seconds after the event: this long the run has to end
// and write its verdict (to a file, if the output is redirected).
constexpr DWORD close_grace_ms = 4000;

// Whether the armed guard's handler is installed; one guard at a time is armed.
bool installed = false;
// Set by the handler of a close event before it waits out the grace.
std::atomic<bool> closing{false};

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
    break;
  case CTRL_CLOSE_EVENT:
    closing.store(true);
    break;
  default:
    return FALSE; // logoff and shutdown: as without the guard
  }
  if (process_interrupt_latch().deliver() == InterruptAction::end_process) {
    return FALSE; // the next handler, in the end the default one, ends the process
  }
  if (event == CTRL_CLOSE_EVENT) {
    // Returning would end the process now. The main thread ends it sooner
    // when the run has wound down.
    Sleep(close_grace_ms);
  }
  return TRUE;
}

} // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& stop) noexcept {
  if (!process_interrupt_latch().arm(stop)) {
    return;
  }
  armed_ = true;
  installed = SetConsoleCtrlHandler(on_console_event, TRUE) != FALSE;
}

void InterruptGuard::restore() noexcept {
  if (!armed_) {
    return;
  }
  interrupted_ = process_interrupt_latch().disarm();
  armed_ = false;
  // Windows runs the handlers under the lock of its handler list, which
  // SetConsoleCtrlHandler takes too: while the handler of a close event waits
  // out the grace, removing it would wait as long. Then it stays (disarmed, it
  // passes every event on), since the process is ending anyway.
  if (installed && !closing.load()) {
    SetConsoleCtrlHandler(on_console_event, FALSE);
  }
  installed = false;
}

} // namespace velto
