#include "console/screen.h"

#include <gtest/gtest.h>

#include <string>

#include "console/memory_console.h"

namespace postil {
namespace {

TEST(Screen, BoxTooSmallDrawsNothing) {
  const int sizes[][2] = {{2, 5}, {5, 2}, {1, 1}, {0, 3}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    MemoryConsole console(25, 80);
    Screen screen(console);
    screen.DrawBox(2, 2, size[0], size[1], 0x1E);
    EXPECT_EQ(console.writes(), 0);
    EXPECT_EQ(console.ReadCells(), MemoryConsole(25, 80).ReadCells());
  }
}

TEST(Screen, SmallestBoxFramesOneBlankCell) {
  MemoryConsole console(25, 80);
  Screen screen(console);
  screen.DrawBox(2, 3, 3, 3, 0x1E);
  EXPECT_EQ(console.writes(), 1);
  EXPECT_EQ(console.Text(2, 2, 5), " \xDA\xC4\xBF ");
  EXPECT_EQ(console.Text(3, 2, 5), " \xB3 \xB3 ");
  EXPECT_EQ(console.Text(4, 2, 5), " \xC0\xC4\xD9 ");
  EXPECT_EQ(console.RowText(1), std::string(80, ' '));
  EXPECT_EQ(console.RowText(5), std::string(80, ' '));
  for (int row = 2; row <= 4; ++row) {
    for (int column = 3; column <= 5; ++column) EXPECT_EQ(console.At(row, column).attribute, 0x1E);
    EXPECT_EQ(console.At(row, 2).attribute, kDefaultAttribute);
    EXPECT_EQ(console.At(row, 6).attribute, kDefaultAttribute);
  }
}

TEST(Screen, TextWrapsToTheNextRowAndIsCutAfterTheLastCell) {
  MemoryConsole console(25, 80);
  Screen screen(console);
  screen.PrintAt(1, 79, "abcd", 0x70);
  EXPECT_EQ(console.Text(1, 79, 2), "ab");
  EXPECT_EQ(console.Text(2, 1, 3), "cd ");
  EXPECT_EQ(console.At(2, 2).attribute, 0x70);

  screen.PrintAt(25, 79, "wxyz", 0x70);
  EXPECT_EQ(console.Text(25, 78, 3), " wx");
  EXPECT_EQ(console.Text(1, 1, 2), "  ");  // nothing comes round to the top

  const int writes = console.writes();
  screen.PrintAt(3, 1, "", 0x70);
  EXPECT_EQ(console.writes(), writes);
}

TEST(Screen, OutsideABracketEachCallShowsInsideOnlyEndDraw) {
  MemoryConsole console(25, 80);
  Screen screen(console);
  screen.PrintAt(1, 1, "now", 0x07);
  EXPECT_EQ(console.writes(), 1);
  EXPECT_EQ(console.Text(1, 1, 3), "now");

  screen.BeginDraw();
  screen.PrintAt(2, 1, "later", 0x07);
  screen.DrawBox(5, 5, 3, 4, 0x07);
  EXPECT_EQ(console.writes(), 1);
  EXPECT_EQ(console.Text(2, 1, 5), "     ");
  screen.EndDraw();
  EXPECT_EQ(console.writes(), 2);
  EXPECT_EQ(console.Text(2, 1, 5), "later");
  EXPECT_EQ(console.Text(5, 5, 4), "\xDA\xC4\xC4\xBF");
  screen.EndDraw();
  EXPECT_EQ(console.writes(), 2);
}

TEST(Screen, SavedStackHoldsFifteenScreens) {
  MemoryConsole console(25, 80);
  Screen screen(console);
  screen.RestoreScreen();  // nothing saved: nothing happens
  EXPECT_EQ(console.writes(), 0);
  EXPECT_EQ(console.closed(), 0);

  for (int i = 1; i <= 16; ++i) {
    screen.PrintAt(1, 1, std::to_string(i) + " ", 0x07);
    console.SetCursor({i, i + 1, 10 + i, i % 2 == 0});
    screen.SaveScreen();
  }
  EXPECT_EQ(screen.SavedDepth(), 15);
  EXPECT_EQ(console.opened(), 1);

  screen.PrintAt(1, 1, "drawn", 0x07);
  screen.RestoreScreen();
  EXPECT_EQ(console.Text(1, 1, 3), "15 ");
  EXPECT_EQ(console.Cursor(), (CursorInfo{15, 16, 25, false}));
  for (int i = 14; i >= 1; --i) screen.RestoreScreen();
  EXPECT_EQ(console.Text(1, 1, 2), "1 ");
  EXPECT_EQ(console.Cursor(), (CursorInfo{1, 2, 11, false}));
  EXPECT_EQ(console.closed(), 1);
  const int writes = console.writes();
  screen.RestoreScreen();
  EXPECT_EQ(console.writes(), writes);
}

}  // namespace
}  // namespace postil
