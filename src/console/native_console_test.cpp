#include "console/native_console.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "console/screen.h"

namespace postil {
namespace {

using platform::ConsoleCell;
using platform::ConsoleKey;

// What the console shows and what was asked of it.
struct FakeCellRecord {
  platform::ConsoleSize window{25, 80};
  std::vector<ConsoleCell> cells = std::vector<ConsoleCell>(25 * 80);
  int rows = 25;  // the block last read or written
  int columns = 80;
  platform::ConsoleCursor cursor;
  std::u16string title;
  int sessions_begun = 0;
  int sessions_ended = 0;
  bool in_session = false;
  std::deque<ConsoleKey> keys;
  bool interrupt = false;
};

class FakeCellConsole final : public platform::CellConsole {
 public:
  explicit FakeCellConsole(FakeCellRecord& record) : record_(record) {}
  platform::ConsoleSize WindowSize() const override { return record_.window; }
  std::vector<ConsoleCell> ReadCells(int rows, int columns) const override {
    record_.rows = rows;
    record_.columns = columns;
    return record_.cells;
  }
  void WriteCells(const std::vector<ConsoleCell>& cells, int rows, int columns) override {
    record_.rows = rows;
    record_.columns = columns;
    record_.cells = cells;
  }
  platform::ConsoleCursor Cursor() const override { return record_.cursor; }
  void SetCursor(const platform::ConsoleCursor& cursor) override { record_.cursor = cursor; }
  void SetTitle(std::u16string_view title) override { record_.title = title; }
  void BeginSession() override {
    if (record_.in_session) return;
    record_.in_session = true;
    ++record_.sessions_begun;
  }
  void EndSession() override {
    if (!record_.in_session) return;
    record_.in_session = false;
    ++record_.sessions_ended;
  }
  std::optional<ConsoleKey> ReadKey() override {
    if (record_.keys.empty()) return std::nullopt;
    ConsoleKey key = record_.keys.front();
    record_.keys.pop_front();
    return key;
  }
  void DiscardInput() override { record_.keys.clear(); }
  bool TakeInterrupt() override { return std::exchange(record_.interrupt, false); }

 private:
  FakeCellRecord& record_;
};

class NativeConsoleTest : public ::testing::Test {
 protected:
  NativeConsole& Console() {
    if (!console_)
      console_ = std::make_unique<NativeConsole>(std::make_unique<FakeCellConsole>(record_));
    return *console_;
  }
  // The characters the console shows in row `row` from column 1, `count` of them.
  std::u16string Shown(int row, int count) const {
    std::u16string text;
    for (int i = 0; i < count; ++i)
      text += record_.cells[(row - 1) * record_.columns + i].character;
    return text;
  }

  FakeCellRecord record_;
  std::unique_ptr<NativeConsole> console_;
};

TEST_F(NativeConsoleTest, EveryByteIsDrawnAsItsGlyph) {
  Screen screen(Console());
  screen.PrintAt(1, 1, std::string("A\x01\x1b[2J\x07\x7f\xda\xc4\xbf\xff", 12), 0xC1);
  EXPECT_EQ(Shown(1, 13), u"A\u263A\u2190[2J\u2022\u2302\u250C\u2500\u2510\u00A0 ");
  EXPECT_EQ(record_.cells[0].attribute, 0xC1);
  EXPECT_EQ(record_.cells[12].attribute, kDefaultAttribute);  // untouched cell read back as it was
}

TEST_F(NativeConsoleTest, CellsReadBackAsTheBytesDrawn) {
  std::vector<Cell> cells(25 * 80);
  for (int byte = 0; byte < 256; ++byte) {
    cells[byte] = {static_cast<unsigned char>(byte), static_cast<std::uint16_t>(byte)};
  }
  Console().WriteCells(cells);
  std::vector<Cell> back = Console().ReadCells();
  cells[0].character = ' ';  // 0x00 shows as a blank
  EXPECT_EQ(back, cells);
}

TEST_F(NativeConsoleTest, TheUsersCharactersOutsideTheCodePageReadAsQuestionMarks) {
  record_.cells[0] = {u'\u20AC', 0x1F};
  record_.cells[1] = {u'\0', 0x07};
  record_.cells[2] = {u'\u00E9', 0x07};
  std::vector<Cell> back = Console().ReadCells();
  EXPECT_EQ(back[0], (Cell{'?', 0x1F}));
  EXPECT_EQ(back[1].character, ' ');
  EXPECT_EQ(back[2].character, 0x82);
}

TEST_F(NativeConsoleTest, BufferIsAtLeastThePanelsSizeAndAtMostTheBound) {
  const struct {
    platform::ConsoleSize window;
    int rows, columns;
  } cases[] = {
      {{10, 40}, 25, 80}, {{50, 132}, 50, 132}, {{0, 0}, 25, 80}, {{9000, 2000}, 300, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.window.rows) + "x" + std::to_string(c.window.columns));
    FakeCellRecord record;
    record.window = c.window;
    NativeConsole console(std::make_unique<FakeCellConsole>(record));
    EXPECT_EQ(console.Rows(), c.rows);
    EXPECT_EQ(console.Columns(), c.columns);
    record.cells.clear();  // a console that read nothing
    EXPECT_EQ(console.ReadCells().size(), static_cast<std::size_t>(c.rows * c.columns));
    console.WriteCells(std::vector<Cell>(c.rows * c.columns));
    EXPECT_EQ(record.cells.size(), static_cast<std::size_t>(c.rows * c.columns));
    EXPECT_EQ(record.rows, c.rows);
    EXPECT_EQ(record.columns, c.columns);
  }
}

TEST_F(NativeConsoleTest, CursorAndTitleReachTheConsole) {
  record_.cursor = {7, 12, 100, true};
  EXPECT_EQ(Console().Cursor(), (CursorInfo{7, 12, 100, true}));
  Console().SetCursor({3, 4, 25, false});
  EXPECT_EQ(record_.cursor, (platform::ConsoleCursor{3, 4, 25, false}));
  Console().SetTitle("POSTIL \x1b]0;x\x07\x84");
  EXPECT_EQ(record_.title, u"POSTIL \u2190]0;x\u2022\u00E4");
}

TEST_F(NativeConsoleTest, KeysAndInterrupts) {
  record_.keys = {ConsoleKey::kCtrlA, ConsoleKey::kAltX, ConsoleKey::kCtrlB, ConsoleKey::kEscape};
  record_.interrupt = true;
  EXPECT_EQ(Console().ReadKey(), Key::kEscape);  // the interrupt comes first
  EXPECT_EQ(Console().ReadKey(), Key::kCtrlA);
  EXPECT_EQ(Console().ReadKey(), Key::kAltX);
  EXPECT_EQ(Console().ReadKey(), Key::kCtrlB);
  EXPECT_EQ(Console().ReadKey(), Key::kEscape);
  EXPECT_EQ(Console().ReadKey(), std::nullopt);
  record_.keys = {ConsoleKey::kCtrlA};
  Console().DiscardKeys();
  EXPECT_EQ(Console().ReadKey(), std::nullopt);
}

TEST_F(NativeConsoleTest, TheScreenIsPutBackOnEveryWayOut) {
  for (int i = 0; i < 80; ++i) record_.cells[i] = {static_cast<char16_t>(u'a' + i % 26), 0x1E};
  const std::vector<ConsoleCell> users = record_.cells;
  record_.cursor = {5, 9, 25, true};
  {
    Screen screen(Console());
    screen.SaveScreen();
    EXPECT_EQ(record_.sessions_begun, 1);
    Console().SetCursor({1, 1, 25, false});
    screen.PrintAt(1, 1, "\x01 panel \x02", 0xE1);
    screen.RestoreScreen();
    EXPECT_EQ(record_.cells, users);
    EXPECT_EQ(record_.cursor, (platform::ConsoleCursor{5, 9, 25, true}));
    EXPECT_EQ(record_.sessions_ended, 1);

    screen.SaveScreen();  // left open, as when the screen thread fails
  }
  EXPECT_TRUE(record_.in_session);
  console_.reset();
  EXPECT_FALSE(record_.in_session);
  EXPECT_EQ(record_.sessions_ended, 2);
}

}  // namespace
}  // namespace postil
