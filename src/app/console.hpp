// Console presentation: moving the cursor up and the animated fish of --velto.
#pragma once

#include "platform/terminal.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace velto {

/// Each frame: a line feed, then six lines of 30 characters each ended by a line feed.
inline constexpr std::size_t kFishFrameBytes = 206;
extern const std::array<std::string_view, 4> fish_frames;

/// The two flags of cursor movement: whether the one attempt to switch the
/// console to control sequences was made, and whether it worked.
struct CursorState {
  bool attempted = false;
  bool terminal_mode = false;
};

/// Moves the cursor `lines` lines up to column 0: by control sequence where
/// the console accepts one, by console-buffer positioning otherwise. Silent on
/// every failure; 0 lines does nothing at all.
void move_cursor_up(std::uint32_t lines, CursorState& state, Terminal& terminal, std::ostream& out);

/// The 16-step animation and the final frame (6.4 s of sleeping).
void show_fish(CursorState& state, Terminal& terminal, std::ostream& out);

} // namespace velto
