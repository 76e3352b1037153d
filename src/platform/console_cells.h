// A system console whose screen buffer is character cells read and written
// whole (the console of Windows; a terminal is a byte stream and has none):
// the cells of its window as UTF-16 code units with their colour attributes,
// the cursor, the window title and the keys the status screen acts on. One
// object per process, used by one thread at a time; only its interrupt
// handler runs elsewhere, and it touches nothing but the interrupt flag.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace postil::platform {

struct ConsoleCell {
  char16_t character = u' ';
  std::uint16_t attribute = 0x07;
  bool operator==(const ConsoleCell&) const = default;
};

struct ConsoleCursor {
  int row = 1;  // 1-based, in the window
  int column = 1;
  int size_percent = 25;
  bool visible = true;
  bool operator==(const ConsoleCursor&) const = default;
};

struct ConsoleSize {
  int rows = 0;
  int columns = 0;
};

enum class ConsoleKey { kEscape, kAltX, kCtrlA, kCtrlB };

// One key event of the console as it comes in, for KeyOfEvent.
struct ConsoleKeyEvent {
  bool down = true;
  unsigned virtual_key = 0;
  char16_t character = 0;
  bool alt = false;  // left or right Alt held
};

// What a key event means to the status screen: one of its keys, an
// interrupt (Ctrl+C typed while input is raw), or nothing.
struct KeyMeaning {
  std::optional<ConsoleKey> key;
  bool interrupt = false;
};
KeyMeaning KeyOfEvent(const ConsoleKeyEvent& event);

class CellConsole {
 public:
  virtual ~CellConsole() = default;

  // The size of the console's window.
  virtual ConsoleSize WindowSize() const = 0;
  // rows x columns cells from the window's top-left corner, row by row;
  // cells outside the window read as blanks.
  virtual std::vector<ConsoleCell> ReadCells(int rows, int columns) const = 0;
  // `cells` holds rows x columns cells; the part outside the window is left
  // out.
  virtual void WriteCells(const std::vector<ConsoleCell>& cells, int rows, int columns) = 0;
  virtual ConsoleCursor Cursor() const = 0;
  virtual void SetCursor(const ConsoleCursor& cursor) = 0;
  // The first call keeps the title it replaces; the destructor puts it back.
  virtual void SetTitle(std::u16string_view title) = 0;

  // From here on Ctrl+C, Ctrl+Break and closing the window are noted
  // (TakeInterrupt) instead of ending the process, and key input is raw.
  // The window's cells, the cursor and the input mode are kept as they are.
  virtual void BeginSession() = 0;
  // Puts back all BeginSession kept, byte for byte; idempotent.
  virtual void EndSession() = 0;

  // The next key of the status screen, without waiting; other keys are
  // dropped. Nothing outside a session.
  virtual std::optional<ConsoleKey> ReadKey() = 0;
  // Drops keystrokes typed but not yet read.
  virtual void DiscardInput() = 0;
  // True once for any number of interrupts since the last call.
  virtual bool TakeInterrupt() = 0;
};

// The console standard output is; nothing when there is none (output
// redirected, or a system whose consoles are terminals).
std::unique_ptr<CellConsole> OpenProcessCellConsole();

}  // namespace postil::platform
