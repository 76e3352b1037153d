#include "console/terminal_console.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "text/cp437_glyphs.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr std::string_view kEnterScreen = "\x1b[?1049h\x1b[?7l";  // alternate screen, no autowrap
constexpr std::string_view kClear = "\x1b[0m\x1b[2J";
constexpr std::string_view kLeaveScreen = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr std::string_view kDefaultShape = "\x1b[0 q";
constexpr std::string_view kShowCursor = "\x1b[?25h";
constexpr std::string_view kHideCursor = "\x1b[?25l";
constexpr std::string_view kPushTitle = "\x1b[22;0t";
constexpr std::string_view kPopTitle = "\x1b[23;0t";
// Keyboard bytes taken per read; the rest waits for the next one.
constexpr std::size_t kReadChunk = 64;
// Keys decoded but not yet asked for; more are dropped.
constexpr std::size_t kMaxQueuedKeys = 16;

long long MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One code point of UTF-8 that is not a control character.
bool IsPrintableGlyph(std::string_view glyph) {
  if (glyph.empty()) return false;
  int starts = 0;
  for (char c : glyph) {
    auto byte = static_cast<unsigned char>(c);
    if (IsControlByte(byte)) return false;
    if ((byte & 0xC0) != 0x80) ++starts;
  }
  return starts == 1 &&
         !(glyph.size() == 2 && glyph[0] == '\xC2' && static_cast<unsigned char>(glyph[1]) < 0xA0);
}

struct Rgb {
  int red, green, blue;
};

// The 16 console colours as the VGA shows them, by colour number.
constexpr Rgb kVgaColours[16] = {
    {0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},  {170, 0, 0},    {170, 0, 170},
    {170, 85, 0},  {170, 170, 170}, {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255},
};

// The colour of entry `index` (16 .. 255) of the xterm 256-colour palette:
// a 6 x 6 x 6 cube, then 24 greys.
Rgb XtermColour(int index) {
  if (index >= 232) {
    const int grey = 8 + 10 * (index - 232);
    return {grey, grey, grey};
  }
  constexpr int kLevels[6] = {0, 95, 135, 175, 215, 255};
  const int cube = index - 16;
  return {kLevels[cube / 36], kLevels[cube / 6 % 6], kLevels[cube % 6]};
}

// The entry of the cube or grey ramp nearest to `colour`; the first 16
// entries are left out, as they are the terminal's own palette.
int NearestXtermColour(Rgb colour) {
  int best = 16;
  int best_distance = -1;
  for (int index = 16; index < 256; ++index) {
    const Rgb entry = XtermColour(index);
    const int dr = entry.red - colour.red;
    const int dg = entry.green - colour.green;
    const int db = entry.blue - colour.blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (best_distance < 0 || distance < best_distance) {
      best = index;
      best_distance = distance;
    }
  }
  return best;
}

// The SGR parameters of console colour `colour` as foreground (30) or
// background (40). The console's colour numbers run blue, green, red,
// bright; ANSI's run red, green, blue, and bright colours have their own
// range.
std::string ColourParameters(unsigned colour, int base, ColourDepth depth) {
  const Rgb rgb = kVgaColours[colour];
  switch (depth) {
    case ColourDepth::kDirect:
      return std::to_string(base + 8) + ";2;" + std::to_string(rgb.red) + ";" +
             std::to_string(rgb.green) + ";" + std::to_string(rgb.blue);
    case ColourDepth::k256:
      return std::to_string(base + 8) + ";5;" + std::to_string(NearestXtermColour(rgb));
    case ColourDepth::kAnsi16:
      break;
  }
  const unsigned ansi = ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
  return std::to_string(((colour & 8) ? base + 60 : base) + static_cast<int>(ansi));
}

std::string ColourSequence(unsigned attribute, ColourDepth depth) {
  if (attribute == kDefaultAttribute) return "\x1b[0m";  // the terminal's own colours
  return "\x1b[0;" + ColourParameters(attribute & 0x0F, 30, depth) + ";" +
         ColourParameters((attribute >> 4) & 0x0F, 40, depth) + "m";
}

void AppendNumber(std::string& out, int value) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace

TerminalConsole::TerminalConsole(std::unique_ptr<platform::TerminalIo> io, TerminalTraits traits)
    : io_(std::move(io)), draws_(io_->OutputIsTerminal() && traits.can_draw) {
  // The buffer is never smaller than the console the panel is laid out
  // for, so no text of it wraps into the next row; a smaller terminal shows
  // the part that fits.
  std::optional<platform::TerminalSize> size = io_->Size();
  rows_ = size ? std::clamp(size->rows, kDefaultRows, kMaxRows) : kDefaultRows;
  columns_ = size ? std::clamp(size->columns, kDefaultColumns, kMaxColumns) : kDefaultColumns;
  visible_rows_ = size ? std::min(size->rows, rows_) : rows_;
  visible_columns_ = size ? std::min(size->columns, columns_) : columns_;
  cells_.resize(static_cast<std::size_t>(rows_ * columns_));
  for (unsigned byte = 0; byte < 256; ++byte) {
    const auto c = static_cast<unsigned char>(byte);
    std::string_view glyph = Cp437GlyphUtf8(c);
    glyphs_[byte] = !traits.utf8              ? std::string(1, AsciiStandIn(c))
                    : IsPrintableGlyph(glyph) ? std::string(glyph)
                                              : std::string("?");
    colours_[byte] = ColourSequence(byte, traits.colours);
  }
}

TerminalConsole::~TerminalConsole() {
  CloseScreen();
  if (title_pushed_) io_->Write(kPopTitle);
}

void TerminalConsole::WriteCells(const std::vector<Cell>& cells) {
  std::copy_n(cells.begin(), std::min(cells.size(), cells_.size()), cells_.begin());
  if (!Showing()) return;
  if (io_->TakeResize()) {
    // The buffer keeps its size; what no longer fits is left out until the
    // terminal grows again.
    std::optional<platform::TerminalSize> size = io_->Size();
    visible_rows_ = size ? std::min(size->rows, rows_) : rows_;
    visible_columns_ = size ? std::min(size->columns, columns_) : columns_;
    out_ += kClear;
    ClearShown();
  }
  RenderCells();
  if (!out_.empty()) RenderCursor(cursor_);
  Flush();
}

void TerminalConsole::SetCursor(const CursorInfo& cursor) {
  CursorInfo before = cursor_;
  cursor_ = cursor;
  if (!Showing()) return;
  RenderCursor(before);
  Flush();
}

void TerminalConsole::SetTitle(std::string_view title) {
  if (!draws_) return;
  if (!title_pushed_) out_ += kPushTitle;
  title_pushed_ = true;
  out_ += "\x1b]0;";
  for (char c : title) out_ += glyphs_[static_cast<unsigned char>(c)];
  out_ += '\a';
  Flush();
}

void TerminalConsole::OpenScreen() {
  if (open_) return;
  std::string restore;
  if (draws_) {
    restore = kLeaveScreen;
    restore += kDefaultShape;
    if (title_pushed_) restore += kPopTitle;
  }
  io_->BeginSession(restore);
  open_ = true;
  if (!draws_) return;
  io_->TakeResize();
  out_ += kEnterScreen;
  out_ += kClear;
  ClearShown();
  RenderCells();
  RenderCursor(CursorInfo{});
  Flush();
}

void TerminalConsole::CloseScreen() {
  if (!open_) return;
  if (draws_) {
    out_ += kLeaveScreen;
    if (shape_changed_) out_ += kDefaultShape;
    Flush();
  }
  io_->EndSession();
  open_ = false;
}

std::optional<Key> TerminalConsole::ReadKey() {
  if (io_->TakeInterrupt()) return Key::kEscape;
  if (Showing() && keys_.empty()) {
    char buffer[kReadChunk];
    std::size_t n = io_->ReadInput(buffer, sizeof buffer);
    std::vector<Key> keys;
    decoder_.Feed(std::string_view(buffer, n), MonotonicMs(), &keys);
    for (Key key : keys) {
      if (keys_.size() < kMaxQueuedKeys) keys_.push_back(key);
    }
  }
  if (keys_.empty()) return std::nullopt;
  Key key = keys_.front();
  keys_.pop_front();
  return key;
}

void TerminalConsole::DiscardKeys() {
  io_->DiscardInput();
  decoder_.Reset();
  keys_.clear();
}

void TerminalConsole::ClearShown() { shown_.assign(cells_.size(), Cell{}); }

void TerminalConsole::RenderCells() {
  int at_row = 0;  // where the terminal's cursor is after the last glyph; 0: unknown
  int at_column = 0;
  int colour = -1;
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    const Cell& cell = cells_[i];
    if (cell == shown_[i]) continue;
    int row = static_cast<int>(i) / columns_ + 1;
    int column = static_cast<int>(i) % columns_ + 1;
    if (row > visible_rows_ || column > visible_columns_) continue;
    if (row != at_row || column != at_column) AppendMoveTo(row, column);
    unsigned attribute = cell.attribute & 0xFF;
    if (static_cast<int>(attribute) != colour) {
      out_ += colours_[attribute];
      colour = static_cast<int>(attribute);
    }
    out_ += glyphs_[cell.character];
    shown_[i] = cell;
    at_row = row;
    at_column = column < visible_columns_ ? column + 1 : 0;  // without autowrap it stays put
  }
}

void TerminalConsole::RenderCursor(const CursorInfo& before) {
  if (cursor_.size_percent != before.size_percent) {
    out_ += cursor_.size_percent >= 50 ? "\x1b[2 q" : "\x1b[4 q";  // block or underline
    shape_changed_ = true;
  }
  if (cursor_.visible != before.visible) out_ += cursor_.visible ? kShowCursor : kHideCursor;
  if (cursor_.visible) {
    AppendMoveTo(std::clamp(cursor_.row, 1, rows_), std::clamp(cursor_.column, 1, columns_));
  }
}

void TerminalConsole::AppendMoveTo(int row, int column) {
  out_ += "\x1b[";
  AppendNumber(out_, row);
  out_ += ';';
  AppendNumber(out_, column);
  out_ += 'H';
}

void TerminalConsole::Flush() {
  if (out_.empty()) return;
  io_->Write(out_);
  out_.clear();
}

}  // namespace postil
