// The console behind standard output, as far as cursor movement needs it.
#pragma once

#include <cstdint>
#include <optional>

namespace velto {

/// The console calls behind moving the cursor; live for the real standard
/// output, replaced in tests.
class Terminal {
public:
  virtual ~Terminal() = default;
  /// Switches standard output to accept control sequences; true when it now does.
  virtual bool enable_virtual_terminal() = 0;
  /// The cursor's row in the console buffer, or none when standard output is
  /// not a console whose buffer can be read.
  virtual std::optional<std::uint32_t> cursor_row() = 0;
  /// Moves the cursor to (column, row) of the console buffer.
  virtual void set_cursor_position(std::uint32_t column, std::uint32_t row) = 0;
  /// Suspends the calling thread.
  virtual void sleep_milliseconds(std::uint32_t milliseconds) = 0;
};

/// The process's standard output console.
Terminal& live_terminal();

} // namespace velto
