// The console on a system console whose screen buffer is cells
// (platform/console_cells.h): the cells are read from and written to the
// console's window whole, each code page 437 byte as its glyph, so a control
// byte from a server or a file is drawn as its picture and never acts. The
// cells are sized like the terminal's buffer (at least 80 x 25, bounded) from
// the window at the start; a smaller window shows the part that fits. An
// interrupt is read as Esc. What the screen covered is put back byte for
// byte when it closes, the title when the console goes. One thread at a
// time.
#pragma once

#include <memory>

#include "console/console_device.h"
#include "platform/console_cells.h"

namespace postil {

class NativeConsole final : public ConsoleDevice {
 public:
  explicit NativeConsole(std::unique_ptr<platform::CellConsole> console);
  // Closes an open screen, so what it covered is back on every way out.
  ~NativeConsole() override { console_->EndSession(); }
  NativeConsole(const NativeConsole&) = delete;
  NativeConsole& operator=(const NativeConsole&) = delete;

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  std::vector<Cell> ReadCells() const override;
  void WriteCells(const std::vector<Cell>& cells) override;
  CursorInfo Cursor() const override;
  void SetCursor(const CursorInfo& cursor) override;
  void SetTitle(std::string_view title) override;
  void OpenScreen() override { console_->BeginSession(); }
  void CloseScreen() override { console_->EndSession(); }
  std::optional<Key> ReadKey() override;
  void DiscardKeys() override { console_->DiscardInput(); }

 private:
  std::unique_ptr<platform::CellConsole> console_;
  int rows_;
  int columns_;
};

}  // namespace postil
