#include "console/terminal_console.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "console/screen.h"
#include "text/cp437_glyphs.h"

namespace postil {
namespace {

// A terminal that records what is written to it.
struct FakeTerminalRecord {
  bool is_terminal = true;
  std::string written;
  std::string input;
  std::string restore_bytes;
  int sessions_begun = 0;
  int sessions_ended = 0;
  int input_reads = 0;
  bool interrupt = false;
  bool resized = false;
  platform::TerminalSize size{25, 80};
};

class FakeTerminal final : public platform::TerminalIo {
 public:
  explicit FakeTerminal(FakeTerminalRecord& record) : record_(record) {}
  bool OutputIsTerminal() const override { return record_.is_terminal; }
  std::optional<platform::TerminalSize> Size() const override { return record_.size; }
  void BeginSession(std::string_view restore_bytes) override {
    record_.restore_bytes = restore_bytes;
    ++record_.sessions_begun;
  }
  void EndSession() override { ++record_.sessions_ended; }
  void Write(std::string_view bytes) override { record_.written += bytes; }
  std::size_t ReadInput(char* buffer, std::size_t size) override {
    ++record_.input_reads;
    std::size_t n = std::min(size, record_.input.size());
    record_.input.copy(buffer, n);
    record_.input.erase(0, n);
    return n;
  }
  void DiscardInput() override { record_.input.clear(); }
  bool TakeInterrupt() override { return std::exchange(record_.interrupt, false); }
  bool TakeResize() override { return std::exchange(record_.resized, false); }

 private:
  FakeTerminalRecord& record_;
};

class TerminalConsoleTest : public ::testing::Test {
 protected:
  TerminalConsole& Console() {
    if (!console_)
      console_ = std::make_unique<TerminalConsole>(std::make_unique<FakeTerminal>(record_), traits_);
    return *console_;
  }
  std::string TakeWritten() { return std::exchange(record_.written, ""); }

  FakeTerminalRecord record_;
  TerminalTraits traits_;
  std::unique_ptr<TerminalConsole> console_;
};

// Every escape sequence in `bytes` is one this console writes itself.
bool OnlyOwnSequences(const std::string& bytes) {
  static const std::regex own("\x1b(\\[[0-9;?]*[HmJhlt]|\\[[0-9] q|\\]0;[^\x07\x1b]*\x07)");
  std::string rest = std::regex_replace(bytes, own, "");
  for (char c : rest) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

TEST_F(TerminalConsoleTest, NothingIsWrittenOrReadWithoutATerminal) {
  record_.is_terminal = false;
  record_.input = "\x1bx";
  Screen screen(Console());
  Console().SetTitle("POSTIL v1.99g");
  screen.SaveScreen();
  screen.PrintAt(5, 5, "panel", 0x70);
  Console().SetCursor({1, 1, 25, false});
  EXPECT_EQ(Console().ReadKey(), std::nullopt);
  EXPECT_EQ(Console().ReadCells()[4 * 80 + 4].character, 'p');  // the cells still work
  record_.interrupt = true;
  EXPECT_EQ(Console().ReadKey(), Key::kEscape);  // an interrupt signal still counts as Esc
  screen.RestoreScreen();
  console_.reset();
  EXPECT_EQ(record_.written, "");
  EXPECT_EQ(record_.sessions_begun, 1);
  EXPECT_EQ(record_.sessions_ended, 1);
}

TEST_F(TerminalConsoleTest, ServerTextReachesTheTerminalOnlyAsGlyphs) {
  Screen screen(Console());
  screen.SaveScreen();
  TakeWritten();
  screen.PrintAt(10, 21,
                 "+OK \x1b[2J\x07\x9b"
                 "31m hi",
                 0x7F);
  std::string written = TakeWritten();
  EXPECT_TRUE(OnlyOwnSequences(written)) << written;
  EXPECT_NE(
      written.find(std::string(Cp437GlyphUtf8(0x1B)) + "[2J" + std::string(Cp437GlyphUtf8(0x07)) +
                   std::string(Cp437GlyphUtf8(0x9B)) + "31m hi"),
      std::string::npos)
      << written;
  EXPECT_EQ(written.find("\x1b[2J"), std::string::npos);
}

TEST_F(TerminalConsoleTest, OnlyChangedCellsAreWritten) {
  Screen screen(Console());
  screen.SaveScreen();
  EXPECT_EQ(TakeWritten().substr(0, 8), "\x1b[?1049h");
  screen.PrintAt(3, 5, "ab", 0x1E);
  EXPECT_EQ(TakeWritten(), "\x1b[3;5H\x1b[0;93;44mab\x1b[1;1H");

  screen.BeginDraw();
  screen.PrintAt(3, 5, "ab", 0x1E);  // unchanged
  screen.EndDraw();
  EXPECT_EQ(TakeWritten(), "");

  Console().SetCursor({1, 1, 25, false});
  EXPECT_EQ(TakeWritten(), "\x1b[?25l");
  screen.PrintAt(3, 6, "c", 0xC1);
  screen.PrintAt(25, 80, "z", 0x07);
  EXPECT_EQ(TakeWritten(), "\x1b[3;6H\x1b[0;34;101mc\x1b[25;80H\x1b[0mz");
}

TEST_F(TerminalConsoleTest, ShrunkTerminalGetsWhatFitsRedrawn) {
  Screen screen(Console());
  screen.SaveScreen();
  TakeWritten();
  record_.size = {24, 79};
  record_.resized = true;
  screen.BeginDraw();
  screen.PrintAt(3, 78, "abc", 0x70);
  screen.PrintAt(25, 1, "z", 0x70);
  screen.EndDraw();
  std::string written = TakeWritten();
  EXPECT_TRUE(written.starts_with("\x1b[0m\x1b[2J")) << written;
  EXPECT_NE(written.find("\x1b[3;78H\x1b[0;30;47mab"), std::string::npos) << written;
  EXPECT_EQ(written.find("abc"), std::string::npos);
  EXPECT_EQ(written.find('z'), std::string::npos);
}

TEST_F(TerminalConsoleTest, ClosingPutsTheTerminalBack) {
  Console().SetTitle("POSTIL v1.99g");
  EXPECT_EQ(TakeWritten(), "\x1b[22;0t\x1b]0;POSTIL v1.99g\x07");
  {
    Screen screen(Console());
    screen.SaveScreen();
  }
  EXPECT_NE(record_.restore_bytes.find("\x1b[?1049l"), std::string::npos);
  EXPECT_NE(record_.restore_bytes.find("\x1b[23;0t"), std::string::npos);
  TakeWritten();
  console_.reset();  // still open: the console closes it on the way out
  std::string written = TakeWritten();
  EXPECT_NE(written.find("\x1b[?25h"), std::string::npos);
  EXPECT_LT(written.find("\x1b[?1049l"), written.find("\x1b[23;0t"));
  EXPECT_EQ(record_.sessions_ended, 1);
}

TEST_F(TerminalConsoleTest, KeysAreReadOnlyWhileTheScreenIsOpen) {
  record_.input = "\x01";
  EXPECT_EQ(Console().ReadKey(), std::nullopt);
  EXPECT_EQ(record_.input_reads, 0);
  Console().OpenScreen();
  EXPECT_EQ(Console().ReadKey(), Key::kCtrlA);
  record_.input = "\x1bX\x02";
  EXPECT_EQ(Console().ReadKey(), Key::kAltX);
  EXPECT_EQ(Console().ReadKey(), Key::kCtrlB);
  EXPECT_EQ(Console().ReadKey(), std::nullopt);
}

TEST_F(TerminalConsoleTest, ASmallTerminalShowsThePartThatFitsWithoutWrapping) {
  record_.size = {20, 60};
  EXPECT_EQ(Console().Rows(), 25);  // the panel is laid out as on a whole console
  EXPECT_EQ(Console().Columns(), 80);
  Screen screen(Console());
  screen.SaveScreen();
  TakeWritten();
  screen.BeginDraw();
  screen.PrintAt(3, 58, "abcdef", 0x70);
  screen.PrintAt(21, 1, "below", 0x70);
  screen.EndDraw();
  std::string written = TakeWritten();
  EXPECT_NE(written.find("\x1b[3;58H\x1b[0;30;47mabc"), std::string::npos) << written;
  EXPECT_EQ(written.find("abcd"), std::string::npos);
  EXPECT_EQ(written.find("below"), std::string::npos);
  EXPECT_EQ(written.find("\x1b[4;"), std::string::npos);  // nothing went on in the next row

  // Grown, the terminal gets everything redrawn.
  record_.size = {25, 80};
  record_.resized = true;
  screen.PrintAt(1, 1, "x", 0x70);
  written = TakeWritten();
  EXPECT_TRUE(written.starts_with("\x1b[0m\x1b[2J")) << written;
  EXPECT_NE(written.find("abcdef"), std::string::npos);
  EXPECT_NE(written.find("below"), std::string::npos);
}

TEST_F(TerminalConsoleTest, ColoursAndGlyphsFollowWhatTheTerminalCanShow) {
  const struct {
    const char* name;
    TerminalTraits traits;
    std::string expected;  // a yellow-on-blue box corner, line and a-umlaut
  } cases[] = {
      {"16 colours, UTF-8", {true, true, ColourDepth::kAnsi16},
       "\x1b[0;93;44m\xE2\x94\x8C\xE2\x94\x80\xC3\xA4"},
      {"256 colours", {true, true, ColourDepth::k256},
       "\x1b[0;38;5;227;48;5;19m\xE2\x94\x8C\xE2\x94\x80\xC3\xA4"},
      {"direct colour", {true, true, ColourDepth::kDirect},
       "\x1b[0;38;2;255;255;85;48;2;0;0;170m\xE2\x94\x8C\xE2\x94\x80\xC3\xA4"},
      {"no UTF-8", {true, false, ColourDepth::kAnsi16}, "\x1b[0;93;44m+-a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record_ = {};
    traits_ = c.traits;
    console_.reset();
    Screen screen(Console());
    screen.SaveScreen();
    TakeWritten();
    screen.PrintAt(2, 2, "\xDA\xC4\x84", 0x1E);
    EXPECT_EQ(TakeWritten(), "\x1b[2;2H" + c.expected + "\x1b[1;1H");
  }
}

TEST_F(TerminalConsoleTest, ADumbTerminalGetsNoPanel) {
  traits_.can_draw = false;
  Screen screen(Console());
  Console().SetTitle("POSTIL v1.99g");
  screen.SaveScreen();
  screen.PrintAt(5, 5, "panel", 0x70);
  screen.RestoreScreen();
  console_.reset();
  EXPECT_EQ(record_.written, "");
  EXPECT_EQ(record_.restore_bytes, "");
}

TEST(TerminalTraits, FromTheEnvironmentsWords) {
  const struct {
    const char* term;
    const char* colorterm;
    const char* locale;
    bool can_draw;
    bool utf8;
    ColourDepth colours;
  } cases[] = {
      {"xterm", "", "C.UTF-8", true, true, ColourDepth::kAnsi16},
      {"xterm-256color", "", "en_US.utf8", true, true, ColourDepth::k256},
      {"xterm-256color", "truecolor", "de_DE.UTF-8", true, true, ColourDepth::kDirect},
      {"screen", "24bit", "", true, false, ColourDepth::kDirect},
      {"xterm", "", "POSIX", true, false, ColourDepth::kAnsi16},
      {"dumb", "", "C.UTF-8", false, true, ColourDepth::kAnsi16},
      {"", "", "C.UTF-8", false, true, ColourDepth::kAnsi16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.term) + "/" + c.colorterm + "/" + c.locale);
    const TerminalTraits traits = ReadTerminalTraits(c.term, c.colorterm, c.locale);
    EXPECT_EQ(traits.can_draw, c.can_draw);
    EXPECT_EQ(traits.utf8, c.utf8);
    EXPECT_EQ(traits.colours, c.colours);
  }
  EXPECT_EQ(AsciiStandIn('A'), 'A');
  EXPECT_EQ(AsciiStandIn(0x9A), 'U');  // U-umlaut
  EXPECT_EQ(AsciiStandIn(0xB3), '|');
  EXPECT_EQ(AsciiStandIn(0xC3), '+');
  EXPECT_EQ(AsciiStandIn(0x1B), '?');
}

}  // namespace
}  // namespace postil
