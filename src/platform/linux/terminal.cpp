// Standard output's console on Linux: a terminal accepts control sequences; it
// has no console buffer whose cursor could be set directly.
#include "platform/terminal.hpp"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace velto {

namespace {

class LinuxTerminal final : public Terminal {
public:
  bool enable_virtual_terminal() override { return isatty(STDOUT_FILENO) == 1; }
  std::optional<std::uint32_t> cursor_row() override { return std::nullopt; }
  void set_cursor_position(std::uint32_t, std::uint32_t) override {}
  void sleep_milliseconds(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

} // namespace

Terminal& live_terminal() {
  static LinuxTerminal terminal;
  return terminal;
}

} // namespace velto
