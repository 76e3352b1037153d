// A console held in memory, for tests and benchmarks: the cells, the cursor
// and the title can be inspected, keys queued, and writes counted or made to
// fail. One thread at a time, like every console.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_device.h"

namespace postil {

class MemoryConsole final : public ConsoleDevice {
 public:
  MemoryConsole(int rows, int columns);

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  std::vector<Cell> ReadCells() const override { return cells_; }
  // Throws std::system_error while writes are set to fail.
  void WriteCells(const std::vector<Cell>& cells) override;
  CursorInfo Cursor() const override { return cursor_; }
  void SetCursor(const CursorInfo& cursor) override { cursor_ = cursor; }
  void SetTitle(std::string_view title) override { title_ = title; }
  void OpenScreen() override { ++opened_; }
  void CloseScreen() override { ++closed_; }
  std::optional<Key> ReadKey() override;
  void DiscardKeys() override { keys_.clear(); }

  // Inspection, 1-based like the screen helpers.
  const Cell& At(int row, int column) const;
  // `length` characters from (row, column), within the row.
  std::string Text(int row, int column, int length) const;
  std::string RowText(int row) const { return Text(row, 1, columns_); }
  const std::string& title() const { return title_; }
  int writes() const { return writes_; }
  int opened() const { return opened_; }
  int closed() const { return closed_; }

  void PushKey(Key key) { keys_.push_back(key); }
  // The next `count` writes fail with `error_code` (an errno value).
  void FailWrites(int count, int error_code);

 private:
  const int rows_;
  const int columns_;
  std::vector<Cell> cells_;
  CursorInfo cursor_;
  std::string title_;
  std::deque<Key> keys_;
  int writes_ = 0;
  int opened_ = 0;
  int closed_ = 0;
  int failing_writes_ = 0;
  int failure_code_ = 0;
};

}  // namespace postil
