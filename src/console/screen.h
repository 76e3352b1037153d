// The console screen helpers: a stack of saved screens, an off-screen copy in
// which a group of drawing calls is made before it is shown in one write, and
// text and box drawing at 1-based rows and columns. Draws on a ConsoleDevice
// it does not own. One thread at a time (main before and after the status
// screen thread, that thread in between); no lock.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "console/console_device.h"

namespace postil {

class Screen {
 public:
  static constexpr int kMaxSaved = 15;

  explicit Screen(ConsoleDevice& device) : device_(device) {}

  // Pushes the cursor and a copy of the screen; a save beyond kMaxSaved is
  // ignored. The first one opens the device's screen.
  void SaveScreen();
  // Pops the last saved entry back onto the console; nothing when none is
  // left. The last one closes the device's screen.
  void RestoreScreen();
  int SavedDepth() const { return static_cast<int>(saved_.size()); }

  // Between BeginDraw and EndDraw the calls below draw into one off-screen
  // copy that EndDraw shows in one write; outside, each call shows at once.
  void BeginDraw();
  void EndDraw();

  // The text's bytes into consecutive cells from (row, column), going on at
  // column 1 of the next row; cells past the last one are dropped.
  void PrintAt(int row, int column, std::string_view text, int attribute);
  // A single-line frame of height x width with a blank interior; nothing
  // when the interior would be empty.
  void DrawBox(int row, int column, int height, int width, int attribute);

 private:
  struct SavedScreen {
    CursorInfo cursor;
    std::vector<Cell> cells;
  };

  // Runs `draw` on the off-screen copy, or on a fresh copy shown at once.
  template <typename Draw>
  void Drawing(Draw draw);
  void Put(std::vector<Cell>& cells, int row, int column, std::string_view text,
           int attribute) const;

  ConsoleDevice& device_;
  std::vector<SavedScreen> saved_;
  std::optional<std::vector<Cell>> offscreen_;
};

}  // namespace postil
