// The console as the screen helpers see it: a block of rows x columns
// character cells read and written whole, the cursor, the window title and
// the keys. Implemented by the terminal (terminal_console.h), by a system
// console of cells (native_console.h) and in memory for tests
// (memory_console.h). Used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace postil {

// Light grey on black, the console's usual text colour.
inline constexpr std::uint16_t kDefaultAttribute = 0x07;

struct Cell {
  unsigned char character = ' ';                // code page 437
  std::uint16_t attribute = kDefaultAttribute;  // low nibble foreground, high nibble background
  bool operator==(const Cell&) const = default;
};

struct CursorInfo {
  int row = 1;  // 1-based
  int column = 1;
  int size_percent = 25;
  bool visible = true;
  bool operator==(const CursorInfo&) const = default;
};

// The keys the status screen acts on; every other key is dropped on input.
enum class Key { kEscape, kAltX, kCtrlA, kCtrlB };

class ConsoleDevice {
 public:
  virtual ~ConsoleDevice() = default;

  virtual int Rows() const = 0;
  virtual int Columns() const = 0;
  // Rows() * Columns() cells, row by row.
  virtual std::vector<Cell> ReadCells() const = 0;
  // `cells` must hold Rows() * Columns() cells.
  virtual void WriteCells(const std::vector<Cell>& cells) = 0;
  virtual CursorInfo Cursor() const = 0;
  virtual void SetCursor(const CursorInfo& cursor) = 0;
  virtual void SetTitle(std::string_view title) = 0;

  // Brackets the time in which POSTIL's own screen is shown: opened with the
  // first saved screen, closed with the last restored one.
  virtual void OpenScreen() = 0;
  virtual void CloseScreen() = 0;

  // The next key, without waiting; nothing when none is there.
  virtual std::optional<Key> ReadKey() = 0;
  virtual void DiscardKeys() = 0;
};

}  // namespace postil
