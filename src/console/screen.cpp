#include "console/screen.h"

#include <cstdint>
#include <string>

namespace postil {
namespace {

// Single-line box characters of code page 437.
constexpr char kUpperLeft = '\xDA';
constexpr char kUpperRight = '\xBF';
constexpr char kLowerLeft = '\xC0';
constexpr char kLowerRight = '\xD9';
constexpr char kHorizontal = '\xC4';
constexpr char kVertical = '\xB3';

std::string BoxRow(char left, char fill, char right, int inner_width) {
  std::string row(static_cast<std::size_t>(inner_width) + 2, fill);
  row.front() = left;
  row.back() = right;
  return row;
}

}  // namespace

void Screen::SaveScreen() {
  if (SavedDepth() == kMaxSaved) return;
  saved_.push_back({device_.Cursor(), device_.ReadCells()});
  if (SavedDepth() == 1) device_.OpenScreen();
}

void Screen::RestoreScreen() {
  if (saved_.empty()) return;
  SavedScreen& entry = saved_.back();
  device_.WriteCells(entry.cells);
  device_.SetCursor(entry.cursor);
  saved_.pop_back();
  if (saved_.empty()) device_.CloseScreen();
}

void Screen::BeginDraw() {
  if (!offscreen_) offscreen_ = device_.ReadCells();
}

void Screen::EndDraw() {
  if (!offscreen_) return;
  device_.WriteCells(*offscreen_);
  offscreen_.reset();
}

template <typename Draw>
void Screen::Drawing(Draw draw) {
  if (offscreen_) {
    draw(*offscreen_);
    return;
  }
  std::vector<Cell> cells = device_.ReadCells();
  draw(cells);
  device_.WriteCells(cells);
}

void Screen::Put(std::vector<Cell>& cells, int row, int column, std::string_view text,
                 int attribute) const {
  const long long total = static_cast<long long>(cells.size());
  long long at = static_cast<long long>(row - 1) * device_.Columns() + (column - 1);
  for (char c : text) {
    if (at >= total) break;
    if (at >= 0) {
      cells[static_cast<std::size_t>(at)] = {static_cast<unsigned char>(c),
                                             static_cast<std::uint16_t>(attribute)};
    }
    ++at;
  }
}

void Screen::PrintAt(int row, int column, std::string_view text, int attribute) {
  if (text.empty()) return;
  Drawing([&](std::vector<Cell>& cells) { Put(cells, row, column, text, attribute); });
}

void Screen::DrawBox(int row, int column, int height, int width, int attribute) {
  const int inner_width = width - 2;
  const int inner_height = height - 2;
  if (inner_width <= 0 || inner_height <= 0) return;
  Drawing([&](std::vector<Cell>& cells) {
    Put(cells, row, column, BoxRow(kUpperLeft, kHorizontal, kUpperRight, inner_width), attribute);
    const std::string middle = BoxRow(kVertical, ' ', kVertical, inner_width);
    for (int i = 1; i <= inner_height; ++i) Put(cells, row + i, column, middle, attribute);
    Put(cells, row + height - 1, column, BoxRow(kLowerLeft, kHorizontal, kLowerRight, inner_width),
        attribute);
  });
}

}  // namespace postil
