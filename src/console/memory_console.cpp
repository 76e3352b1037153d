#include "console/memory_console.h"

#include <stdexcept>
#include <system_error>

namespace postil {

MemoryConsole::MemoryConsole(int rows, int columns)
    : rows_(rows), columns_(columns), cells_(static_cast<std::size_t>(rows * columns)) {}

void MemoryConsole::WriteCells(const std::vector<Cell>& cells) {
  if (failing_writes_ > 0) {
    --failing_writes_;
    throw std::system_error(failure_code_, std::generic_category(), "console write");
  }
  if (cells.size() != cells_.size()) throw std::invalid_argument("console write of a wrong size");
  cells_ = cells;
  ++writes_;
}

std::optional<Key> MemoryConsole::ReadKey() {
  if (keys_.empty()) return std::nullopt;
  Key key = keys_.front();
  keys_.pop_front();
  return key;
}

const Cell& MemoryConsole::At(int row, int column) const {
  return cells_.at(static_cast<std::size_t>((row - 1) * columns_ + (column - 1)));
}

std::string MemoryConsole::Text(int row, int column, int length) const {
  std::string text;
  for (int c = column; c < column + length && c <= columns_; ++c)
    text += static_cast<char>(At(row, c).character);
  return text;
}

void MemoryConsole::FailWrites(int count, int error_code) {
  failing_writes_ = count;
  failure_code_ = error_code;
}

}  // namespace postil
