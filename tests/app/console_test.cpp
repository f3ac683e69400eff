#include "app/console.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

// A console whose answers the test chooses, recording what it is asked to do.
class FakeTerminal : public Terminal {
public:
  bool accepts_sequences = false;
  std::optional<std::uint32_t> row;
  int mode_attempts = 0;
  int sleeps = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> moves;

  bool enable_virtual_terminal() override {
    ++mode_attempts;
    return accepts_sequences;
  }
  std::optional<std::uint32_t> cursor_row() override { return row; }
  void set_cursor_position(std::uint32_t column, std::uint32_t r) override {
    moves.emplace_back(column, r);
  }
  void sleep_milliseconds(std::uint32_t) override { ++sleeps; }
};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

TEST(FishFrames, AreSevenLinesOfThirtyCharacters) {
  for (std::string_view frame : fish_frames) {
    EXPECT_EQ(frame.size(), kFishFrameBytes);
    EXPECT_EQ(count(std::string(frame), "\n"), 7u);
    ASSERT_EQ(frame.front(), '\n');
    // Every line is 30 characters: count UTF-8 lead bytes, not continuation bytes.
    std::size_t chars = 0;
    for (char c : frame.substr(1)) {
      if (c == '\n') {
        EXPECT_EQ(chars, 30u);
        chars = 0;
      } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
        ++chars;
      }
    }
    EXPECT_EQ(count(std::string(frame), "\xC2\xA9"), 1u); // one eye
  }
}

TEST(FishFrames, DifferWhereTheBubblesAre) {
  auto lines = [](std::string_view frame) {
    std::vector<std::string> out;
    std::string s(frame.substr(1));
    for (std::size_t at = 0, nl; (nl = s.find('\n', at)) != std::string::npos; at = nl + 1) {
      out.push_back(s.substr(at, nl - at));
    }
    return out;
  };
  const auto f0 = lines(fish_frames[0]), f1 = lines(fish_frames[1]), f2 = lines(fish_frames[2]),
             f3 = lines(fish_frames[3]);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(f0[i] == f2[i], i != 0) << "frames 0 and 2, line " << i + 1;
    EXPECT_EQ(f1[i] == f3[i], i != 1 && i != 2) << "frames 1 and 3, line " << i + 1;
    EXPECT_NE(f0[i], f1[i]) << "line " << i + 1;
    EXPECT_NE(f2[i], f3[i]) << "line " << i + 1;
  }
  EXPECT_EQ(f2[0][1], 'O');
  EXPECT_EQ(f1[1][2], 'O');
  EXPECT_EQ(f1[2][2], ')');
  EXPECT_NE(f0[3].find("` \\\\  `\\ "), std::string::npos);
  EXPECT_NE(f1[3].find("` \\\\\\ `\\ "), std::string::npos);
}

TEST(MoveCursorUp, ZeroLinesDoesNothingAtAll) {
  FakeTerminal terminal;
  CursorState state;
  std::ostringstream out;
  move_cursor_up(0, state, terminal, out);
  EXPECT_FALSE(state.attempted);
  EXPECT_EQ(terminal.mode_attempts, 0);
  EXPECT_EQ(out.str(), "");
}

TEST(MoveCursorUp, UsesTheControlSequenceWhereTheConsoleAcceptsIt) {
  FakeTerminal terminal;
  terminal.accepts_sequences = true;
  CursorState state;
  std::ostringstream out;
  move_cursor_up(7, state, terminal, out);
  move_cursor_up(3, state, terminal, out);
  EXPECT_EQ(out.str(), "\x1b[7F\x1b[3F");
  EXPECT_EQ(terminal.mode_attempts, 1); // the switch is tried once per process
  EXPECT_TRUE(terminal.moves.empty());
}

TEST(MoveCursorUp, PositionsTheCursorWhereTheConsoleRefusesSequences) {
  struct Case {
    std::optional<std::uint32_t> row;
    std::uint32_t lines;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> moves;
  };
  const Case cases[] = {
      {20, 7, {{0, 13}}},
      {7, 7, {{0, 0}}},
      {3, 7, {{0, 0}}},      // above the top: row 0
      {std::nullopt, 7, {}}, // redirected: silent
  };
  for (const auto& c : cases) {
    FakeTerminal terminal;
    terminal.row = c.row;
    CursorState state;
    std::ostringstream out;
    move_cursor_up(c.lines, state, terminal, out);
    EXPECT_EQ(terminal.moves, c.moves);
    EXPECT_EQ(out.str(), "");
  }
}

TEST(ShowFish, RedirectedOutputGetsSeventeenFramesAndALineEnd) {
  FakeTerminal terminal; // neither sequences nor a console buffer, as with a file
  CursorState state;
  std::ostringstream out;
  show_fish(state, terminal, out);
  std::string expected;
  for (int round = 0; round < 4; ++round) {
    for (std::string_view frame : fish_frames) {
      expected += frame;
    }
  }
  expected += std::string(fish_frames[3]) + "\n";
  EXPECT_EQ(out.str(), expected);
  EXPECT_EQ(terminal.sleeps, 16);
  EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
}

TEST(ShowFish, TerminalGetsTheSequenceAfterEveryFrame) {
  FakeTerminal terminal;
  terminal.accepts_sequences = true;
  CursorState state;
  std::ostringstream out;
  show_fish(state, terminal, out);
  EXPECT_EQ(count(out.str(), "\x1b[7F"), 16u);
  EXPECT_EQ(out.str().size(), 17 * kFishFrameBytes + 16 * 4 + 1);
}

} // namespace
} // namespace velto
