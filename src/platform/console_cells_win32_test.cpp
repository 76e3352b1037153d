#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console_cells.h"

namespace postil::platform {
namespace {

// Runs on the process's real console; under ctest standard output is a
// pipe, so there is usually none and the test says so.
class Win32CellConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    console_ = OpenProcessCellConsole();
    if (!console_) GTEST_SKIP() << "standard output is not a console (redirected)";
    size_ = console_->WindowSize();
    ASSERT_GT(size_.rows, 0);
    ASSERT_GT(size_.columns, 0);
  }

  std::unique_ptr<CellConsole> console_;
  ConsoleSize size_;
};

TEST_F(Win32CellConsoleTest, CellsAreWrittenAndReadWholeAndPutBack) {
  const std::vector<ConsoleCell> before = console_->ReadCells(size_.rows, size_.columns);
  const ConsoleCursor cursor_before = console_->Cursor();
  console_->BeginSession();

  std::vector<ConsoleCell> cells(static_cast<std::size_t>(size_.rows) * size_.columns);
  const std::u16string text = u"\u263A\u2190[2J\u250C\u2500\u2510\u00E4";
  for (std::size_t i = 0; i < text.size() && i < cells.size(); ++i) cells[i] = {text[i], 0xC1};
  console_->WriteCells(cells, size_.rows, size_.columns);
  EXPECT_EQ(console_->ReadCells(size_.rows, size_.columns), cells);

  // Beyond the window nothing is written and blanks are read.
  const std::vector<ConsoleCell> wider = console_->ReadCells(size_.rows, size_.columns + 1);
  EXPECT_EQ(wider[static_cast<std::size_t>(size_.columns)], ConsoleCell{});

  console_->SetCursor({2, 3, 100, false});
  EXPECT_EQ(console_->Cursor(), (ConsoleCursor{2, 3, 100, false}));

  console_->EndSession();
  EXPECT_EQ(console_->ReadCells(size_.rows, size_.columns), before);
  EXPECT_EQ(console_->Cursor(), cursor_before);
}

// A key event as the keyboard gives it.
INPUT_RECORD KeyDown(WORD virtual_key, wchar_t character, DWORD state) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
  record.Event.KeyEvent.uChar.UnicodeChar = character;
  record.Event.KeyEvent.dwControlKeyState = state;
  return record;
}

TEST_F(Win32CellConsoleTest, KeysAreReadInTheSessionAndCtrlCIsAnInterrupt) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode)) GTEST_SKIP() << "standard input is not a console";
  console_->BeginSession();
  console_->DiscardInput();
  const INPUT_RECORD keys[] = {KeyDown('Q', L'q', 0), KeyDown('A', 0x01, LEFT_CTRL_PRESSED),
                               KeyDown('C', 0x03, LEFT_CTRL_PRESSED),
                               KeyDown('X', L'x', RIGHT_ALT_PRESSED)};
  DWORD written = 0;
  ASSERT_TRUE(::WriteConsoleInputW(input, keys, 4, &written));
  EXPECT_EQ(console_->ReadKey(), ConsoleKey::kCtrlA);
  EXPECT_EQ(console_->ReadKey(), ConsoleKey::kAltX);
  EXPECT_EQ(console_->ReadKey(), std::nullopt);
  EXPECT_TRUE(console_->TakeInterrupt());
  EXPECT_FALSE(console_->TakeInterrupt());
  console_->EndSession();
  DWORD mode_after = 0;
  ::GetConsoleMode(input, &mode_after);
  EXPECT_EQ(mode_after, mode);
}

TEST_F(Win32CellConsoleTest, TheTitleIsPutBackWhenTheConsoleGoes) {
  wchar_t before[256] = {};
  ::GetConsoleTitleW(before, 256);
  console_->SetTitle(u"POSTIL \u2190 test");
  wchar_t during[256] = {};
  ::GetConsoleTitleW(during, 256);
  EXPECT_EQ(std::wstring(during), L"POSTIL \u2190 test");
  console_.reset();
  wchar_t after[256] = {};
  ::GetConsoleTitleW(after, 256);
  EXPECT_EQ(std::wstring(after), std::wstring(before));
}

}  // namespace
}  // namespace postil::platform
