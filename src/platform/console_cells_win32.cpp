#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/console_cells.h"
#include "platform/console_interrupt_win32.h"

namespace postil::platform {
namespace {

// Cells per ReadConsoleOutput / WriteConsoleOutput call: larger blocks are
// refused by some consoles, so a big window goes in bands of rows.
constexpr int kMaxCellsPerCall = 8000;
// Input events taken per ReadKey; the rest wait for the next call.
constexpr int kMaxEventsPerRead = 64;
// Longest title kept for putting back.
constexpr DWORD kTitleCapacity = 1024;

// A block of cells: its top-left corner in screen buffer coordinates and
// its size.
struct Area {
  int top;
  int left;
  int rows;
  int columns;
};

// Reads (`write` false) or writes the cells of `area` from or to `cells`,
// row by row, in bands the console accepts. False when a call failed.
bool TransferArea(HANDLE output, const Area& area, std::vector<CHAR_INFO>& cells, bool write) {
  if (area.rows <= 0 || area.columns <= 0) return true;
  const int band = std::max(1, kMaxCellsPerCall / area.columns);
  for (int first = 0; first < area.rows; first += band) {
    const int count = std::min(band, area.rows - first);
    CHAR_INFO* at = cells.data() + static_cast<std::size_t>(first) * area.columns;
    const COORD size{static_cast<SHORT>(area.columns), static_cast<SHORT>(count)};
    SMALL_RECT region{static_cast<SHORT>(area.left), static_cast<SHORT>(area.top + first),
                      static_cast<SHORT>(area.left + area.columns - 1),
                      static_cast<SHORT>(area.top + first + count - 1)};
    const BOOL done = write ? ::WriteConsoleOutputW(output, at, size, COORD{0, 0}, &region)
                            : ::ReadConsoleOutputW(output, at, size, COORD{0, 0}, &region);
    if (!done) return false;
  }
  return true;
}

class Win32CellConsole final : public CellConsole {
 public:
  explicit Win32CellConsole(HANDLE output)
      : output_(output), input_(::GetStdHandle(STD_INPUT_HANDLE)) {
    DWORD mode = 0;
    input_console_ = ::GetConsoleMode(input_, &mode) != 0;
  }
  ~Win32CellConsole() override {
    EndSession();
    if (title_saved_) ::SetConsoleTitleW(saved_title_.c_str());
  }
  Win32CellConsole(const Win32CellConsole&) = delete;
  Win32CellConsole& operator=(const Win32CellConsole&) = delete;

  ConsoleSize WindowSize() const override {
    const Area window = Window();
    return {window.rows, window.columns};
  }

  std::vector<ConsoleCell> ReadCells(int rows, int columns) const override {
    std::vector<ConsoleCell> cells(static_cast<std::size_t>(rows) * columns);
    const Area area = Visible(rows, columns);
    std::vector<CHAR_INFO> block(static_cast<std::size_t>(area.rows) * area.columns);
    if (!TransferArea(output_, area, block, false)) return cells;
    for (int row = 0; row < area.rows; ++row) {
      for (int column = 0; column < area.columns; ++column) {
        const CHAR_INFO& from = block[static_cast<std::size_t>(row) * area.columns + column];
        cells[static_cast<std::size_t>(row) * columns + column] = {
            static_cast<char16_t>(from.Char.UnicodeChar), from.Attributes};
      }
    }
    return cells;
  }

  void WriteCells(const std::vector<ConsoleCell>& cells, int rows, int columns) override {
    if (cells.size() < static_cast<std::size_t>(rows) * columns) return;
    const Area area = Visible(rows, columns);
    std::vector<CHAR_INFO> block(static_cast<std::size_t>(area.rows) * area.columns);
    for (int row = 0; row < area.rows; ++row) {
      for (int column = 0; column < area.columns; ++column) {
        const ConsoleCell& from = cells[static_cast<std::size_t>(row) * columns + column];
        CHAR_INFO& to = block[static_cast<std::size_t>(row) * area.columns + column];
        to.Char.UnicodeChar = static_cast<WCHAR>(from.character);
        to.Attributes = from.attribute;
      }
    }
    TransferArea(output_, area, block, true);
  }

  ConsoleCursor Cursor() const override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    CONSOLE_CURSOR_INFO shape{};
    ConsoleCursor cursor;
    if (::GetConsoleScreenBufferInfo(output_, &info)) {
      cursor.row = info.dwCursorPosition.Y - info.srWindow.Top + 1;
      cursor.column = info.dwCursorPosition.X - info.srWindow.Left + 1;
    }
    if (::GetConsoleCursorInfo(output_, &shape)) {
      cursor.size_percent = static_cast<int>(shape.dwSize);
      cursor.visible = shape.bVisible != FALSE;
    }
    return cursor;
  }

  void SetCursor(const ConsoleCursor& cursor) override {
    const Area window = Window();
    if (window.rows > 0 && window.columns > 0) {
      // Kept inside the window, which would otherwise scroll to it.
      const int row = std::clamp(cursor.row, 1, window.rows);
      const int column = std::clamp(cursor.column, 1, window.columns);
      ::SetConsoleCursorPosition(output_, COORD{static_cast<SHORT>(window.left + column - 1),
                                                static_cast<SHORT>(window.top + row - 1)});
    }
    const CONSOLE_CURSOR_INFO shape{static_cast<DWORD>(std::clamp(cursor.size_percent, 1, 100)),
                                    cursor.visible ? TRUE : FALSE};
    ::SetConsoleCursorInfo(output_, &shape);
  }

  void SetTitle(std::u16string_view title) override {
    if (!title_saved_) {
      std::wstring saved(kTitleCapacity, L'\0');
      const DWORD length = ::GetConsoleTitleW(saved.data(), kTitleCapacity);
      saved.resize(std::min<DWORD>(length, kTitleCapacity - 1));
      saved_title_ = std::move(saved);
      title_saved_ = true;
    }
    const std::wstring wide(title.begin(), title.end());
    ::SetConsoleTitleW(wide.c_str());
  }

  void BeginSession() override {
    if (in_session_) return;
    // What was printed before shows in the screen that is kept.
    std::cout.flush();
    std::fflush(stdout);
    HandleConsoleInterrupts(true);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(output_, &info)) {
      saved_area_ = Window();
      saved_cells_.assign(static_cast<std::size_t>(saved_area_.rows) * saved_area_.columns, {});
      if (!TransferArea(output_, saved_area_, saved_cells_, false)) saved_cells_.clear();
      saved_position_ = info.dwCursorPosition;
      position_saved_ = true;
    }
    shape_saved_ = ::GetConsoleCursorInfo(output_, &saved_shape_) != 0;
    if (input_console_ && ::GetConsoleMode(input_, &saved_input_mode_)) {
      // No line editing, no echo and Ctrl+C as a key: every keystroke comes
      // in as its own event.
      raw_input_ = ::SetConsoleMode(input_, 0) != 0;
    }
    in_session_ = true;
  }

  void EndSession() override {
    if (!in_session_) return;
    if (!saved_cells_.empty()) TransferArea(output_, saved_area_, saved_cells_, true);
    if (position_saved_) ::SetConsoleCursorPosition(output_, saved_position_);
    if (shape_saved_) ::SetConsoleCursorInfo(output_, &saved_shape_);
    if (raw_input_) ::SetConsoleMode(input_, saved_input_mode_);
    HandleConsoleInterrupts(false);
    saved_cells_.clear();
    position_saved_ = shape_saved_ = raw_input_ = in_session_ = false;
  }

  std::optional<ConsoleKey> ReadKey() override {
    for (int taken = 0; raw_input_ && taken < kMaxEventsPerRead; ++taken) {
      // A console fed from a terminal takes in what was typed only when its
      // input is waited on, even for no time; counting alone sees nothing.
      if (::WaitForSingleObject(input_, 0) != WAIT_OBJECT_0) break;
      DWORD waiting = 0;
      if (!::GetNumberOfConsoleInputEvents(input_, &waiting) || waiting == 0) break;
      INPUT_RECORD record{};
      DWORD read = 0;
      if (!::ReadConsoleInputW(input_, &record, 1, &read) || read == 0) break;
      if (record.EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
      const KeyMeaning meaning = KeyOfEvent(
          {key.bKeyDown != FALSE, key.wVirtualKeyCode, static_cast<char16_t>(key.uChar.UnicodeChar),
           (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0});
      if (meaning.interrupt) NoteConsoleInterrupt();
      if (meaning.key) return meaning.key;
    }
    return std::nullopt;
  }

  void DiscardInput() override {
    if (input_console_) ::FlushConsoleInputBuffer(input_);
  }

  bool TakeInterrupt() override { return TakeConsoleInterrupt(); }

 private:
  Area Window() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(output_, &info)) return {0, 0, 0, 0};
    return {info.srWindow.Top, info.srWindow.Left, info.srWindow.Bottom - info.srWindow.Top + 1,
            info.srWindow.Right - info.srWindow.Left + 1};
  }

  // The part of a rows x columns block at the window's top-left corner that
  // the window shows.
  Area Visible(int rows, int columns) const {
    Area area = Window();
    area.rows = std::max(0, std::min(rows, area.rows));
    area.columns = std::max(0, std::min(columns, area.columns));
    return area;
  }

  const HANDLE output_;
  const HANDLE input_;
  bool input_console_ = false;
  bool in_session_ = false;
  bool raw_input_ = false;
  DWORD saved_input_mode_ = 0;
  Area saved_area_{0, 0, 0, 0};
  std::vector<CHAR_INFO> saved_cells_;
  COORD saved_position_{0, 0};
  bool position_saved_ = false;
  CONSOLE_CURSOR_INFO saved_shape_{};
  bool shape_saved_ = false;
  std::wstring saved_title_;
  bool title_saved_ = false;
};

}  // namespace

std::unique_ptr<CellConsole> OpenProcessCellConsole() {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (output == nullptr || output == INVALID_HANDLE_VALUE ||
      !::GetConsoleScreenBufferInfo(output, &info)) {
    return nullptr;
  }
  return std::make_unique<Win32CellConsole>(output);
}

}  // namespace postil::platform
