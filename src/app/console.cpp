// Console presentation: only code that is the same on every OS; the console
// calls live behind Terminal.
#include "app/console.hpp"

#include <fmt/format.h>

#include <ostream>

namespace velto {

// The frames are UTF-8 bytes; the four non-ASCII glyphs (cedilla, middle dot,
// acute accent, copyright sign) are spelled as escapes so the source's own
// encoding cannot change them.
const std::array<std::string_view, 4> fish_frames = {
    // frame 0
    "\n"
    "            \xC2\xB8\xC2\xB8\xC2\xB8.:::::  .'''   \n"
    "     \xC2\xB8.\xC2\xB7\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB8 ```'/''\xC2\xB7\xC2\xB4   ``: "
    "\n"
    "  : \xC2\xA9 ):   ...____       ':`  \n"
    "     `\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n",
    // frame 1
    "\n"
    "            \xC2\xB8\xC2\xB8\xC2\xB8.:::::  .''    \n"
    "  O  \xC2\xB8.\xC2\xB7\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB8 ```'/''\xC2\xB7\xC2\xB4  ';   "
    "\n"
    "  ) \xC2\xA9 ):   ...____       ':   \n"
    "     `\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n",
    // frame 2
    "\n"
    " O          \xC2\xB8\xC2\xB8\xC2\xB8.:::::  .'''   \n"
    "     \xC2\xB8.\xC2\xB7\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB8 ```'/''\xC2\xB7\xC2\xB4   ``: "
    "\n"
    "  : \xC2\xA9 ):   ...____       ':`  \n"
    "     `\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n",
    // frame 3
    "\n"
    "            \xC2\xB8\xC2\xB8\xC2\xB8.:::::  .''    \n"
    "     \xC2\xB8.\xC2\xB7\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB4\xC2\xB8 ```'/''\xC2\xB7\xC2\xB4  ';   "
    "\n"
    "  : \xC2\xA9 ):   ...____       ':   \n"
    "     `\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7\xC2\xB7` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n",
};

void move_cursor_up(std::uint32_t lines, CursorState& state, Terminal& terminal,
                    std::ostream& out) {
  if (lines == 0) {
    return;
  }
  if (!state.attempted) {
    state.attempted = true;
    state.terminal_mode = terminal.enable_virtual_terminal();
  }
  if (state.terminal_mode) {
    out << fmt::format("\x1b[{}F", lines);
  } else {
    const auto row = terminal.cursor_row();
    if (!row) {
      return;
    }
    terminal.set_cursor_position(0, lines > *row ? 0 : *row - lines);
  }
  out.flush();
}

void show_fish(CursorState& state, Terminal& terminal, std::ostream& out) {
  // Each frame starts with a line feed and holds seven, so moving seven lines up
  // puts the next frame exactly over the previous one.
  for (int round = 0; round < 4; ++round) {
    for (std::string_view frame : fish_frames) {
      out << frame;
      out.flush();
      terminal.sleep_milliseconds(400);
      move_cursor_up(7, state, terminal, out);
    }
  }
  out << fish_frames[3] << '\n';
  out.flush();
}

} // namespace velto
