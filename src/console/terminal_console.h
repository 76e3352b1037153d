// The console on a terminal: a virtual cell buffer of the terminal's size,
// at least 80 x 25, whose part that fits the terminal is shown by writing
// only the cells that changed, with ANSI sequences in the colours the
// terminal can show and the code page 437 glyphs in UTF-8 (ASCII stand-ins
// without a UTF-8 locale). While
// the screen is open the terminal shows its alternate screen and the
// keyboard is raw. Every byte of a cell is drawn as its glyph, so no text
// from a server or a file reaches the terminal as a control sequence. With
// no terminal on standard output nothing is written and no key is read.
// One thread at a time.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "console/console_device.h"
#include "console/key_decoder.h"
#include "console/terminal_traits.h"
#include "platform/terminal.h"

namespace postil {

class TerminalConsole final : public ConsoleDevice {
 public:
  static constexpr int kDefaultRows = 25;
  static constexpr int kDefaultColumns = 80;
  // Larger terminals are drawn in their top-left part only, which keeps the
  // cell buffer of a bounded size.
  static constexpr int kMaxRows = 300;
  static constexpr int kMaxColumns = 1000;

  // Draws only when the terminal can (`traits`); a dumb one gets nothing.
  explicit TerminalConsole(std::unique_ptr<platform::TerminalIo> io, TerminalTraits traits = {});
  // Closes an open screen and puts the window title back.
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  std::vector<Cell> ReadCells() const override { return cells_; }
  void WriteCells(const std::vector<Cell>& cells) override;
  CursorInfo Cursor() const override { return cursor_; }
  void SetCursor(const CursorInfo& cursor) override;
  void SetTitle(std::string_view title) override;
  void OpenScreen() override;
  void CloseScreen() override;
  std::optional<Key> ReadKey() override;
  void DiscardKeys() override;

 private:
  bool Showing() const { return open_ && draws_; }
  void ClearShown();
  // Appends what turns the shown cells into cells_ to out_.
  void RenderCells();
  void RenderCursor(const CursorInfo& before);
  void AppendMoveTo(int row, int column);
  void Flush();

  std::unique_ptr<platform::TerminalIo> io_;
  const bool draws_;  // a terminal on standard output that can be drawn on
  int rows_;
  int columns_;
  int visible_rows_;  // the part of the buffer the terminal has room for
  int visible_columns_;
  std::vector<Cell> cells_;
  std::vector<Cell> shown_;  // what the terminal shows while the screen is open
  CursorInfo cursor_;
  bool open_ = false;
  bool title_pushed_ = false;
  bool shape_changed_ = false;
  std::array<std::string, 256> glyphs_;   // UTF-8 of each byte, never a control
  std::array<std::string, 256> colours_;  // SGR sequence of each attribute
  std::string out_;                       // bytes of one write, reused
  KeyDecoder decoder_;
  std::deque<Key> keys_;
};

}  // namespace postil
