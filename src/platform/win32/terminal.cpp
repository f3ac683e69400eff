// Standard output's console on Windows: virtual-terminal processing where the
// console accepts it, console-buffer cursor positioning otherwise.
#include "platform/terminal.hpp"

#include "platform/win32/windows.hpp"

namespace velto {

namespace {

class WindowsTerminal final : public Terminal {
public:
  bool enable_virtual_terminal() override {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      return false;
    }
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) {
      return false;
    }
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }

  std::optional<std::uint32_t> cursor_row() override {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      return std::nullopt;
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info) || info.dwCursorPosition.Y < 0) {
      return std::nullopt;
    }
    return static_cast<std::uint32_t>(info.dwCursorPosition.Y);
  }

  void set_cursor_position(std::uint32_t column, std::uint32_t row) override {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      return;
    }
    SetConsoleCursorPosition(out, COORD{static_cast<SHORT>(column), static_cast<SHORT>(row)});
  }

  void sleep_milliseconds(std::uint32_t milliseconds) override { Sleep(milliseconds); }
};

} // namespace

Terminal& live_terminal() {
  static WindowsTerminal terminal;
  return terminal;
}

} // namespace velto
