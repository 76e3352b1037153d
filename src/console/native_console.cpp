#include "console/native_console.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "console/terminal_console.h"
#include "text/cp437_glyphs.h"

namespace postil {
namespace {

// The one code point of a UTF-8 glyph of the code page 437 table (all of
// them lie in the basic plane).
char16_t DecodeGlyph(std::string_view utf8) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  switch (utf8.size()) {
    case 1:
      return byte(0);
    case 2:
      return static_cast<char16_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F));
    case 3:
      return static_cast<char16_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                   (byte(2) & 0x3F));
    default:
      return u'?';
  }
}

// Each byte's glyph, and the glyphs sorted with their bytes for the way
// back.
struct GlyphTable {
  std::array<char16_t, 256> glyph{};
  std::array<std::pair<char16_t, unsigned char>, 256> byte_of{};

  GlyphTable() {
    for (unsigned byte = 0; byte < 256; ++byte) {
      glyph[byte] = DecodeGlyph(Cp437GlyphUtf8(static_cast<unsigned char>(byte)));
      byte_of[byte] = {glyph[byte], static_cast<unsigned char>(byte)};
    }
    // 0x00 and the blank share a glyph; the blank is the byte read back.
    std::sort(byte_of.begin(), byte_of.end(), [](const auto& a, const auto& b) {
      return a.first < b.first || (a.first == b.first && a.second > b.second);
    });
  }

  // A character the code page has no glyph for reads as "?"; what the
  // screen covered is put back from the console's own copy, not from this.
  unsigned char ByteOf(char16_t character) const {
    if (character == u'\0') return ' ';
    auto at = std::lower_bound(byte_of.begin(), byte_of.end(), character,
                               [](const auto& entry, char16_t c) { return entry.first < c; });
    return at != byte_of.end() && at->first == character ? at->second : '?';
  }
};

const GlyphTable& Glyphs() {
  static const GlyphTable table;
  return table;
}

Key KeyOf(platform::ConsoleKey key) {
  switch (key) {
    case platform::ConsoleKey::kAltX:
      return Key::kAltX;
    case platform::ConsoleKey::kCtrlA:
      return Key::kCtrlA;
    case platform::ConsoleKey::kCtrlB:
      return Key::kCtrlB;
    case platform::ConsoleKey::kEscape:
      break;
  }
  return Key::kEscape;
}

}  // namespace

NativeConsole::NativeConsole(std::unique_ptr<platform::CellConsole> console)
    : console_(std::move(console)) {
  // Laid out like the terminal's buffer, so the panel never wraps.
  const platform::ConsoleSize size = console_->WindowSize();
  rows_ = std::clamp(size.rows, TerminalConsole::kDefaultRows, TerminalConsole::kMaxRows);
  columns_ =
      std::clamp(size.columns, TerminalConsole::kDefaultColumns, TerminalConsole::kMaxColumns);
}

std::vector<Cell> NativeConsole::ReadCells() const {
  const std::vector<platform::ConsoleCell> shown = console_->ReadCells(rows_, columns_);
  std::vector<Cell> cells(static_cast<std::size_t>(rows_) * columns_);
  for (std::size_t i = 0; i < cells.size() && i < shown.size(); ++i) {
    cells[i] = {Glyphs().ByteOf(shown[i].character), shown[i].attribute};
  }
  return cells;
}

void NativeConsole::WriteCells(const std::vector<Cell>& cells) {
  std::vector<platform::ConsoleCell> shown(static_cast<std::size_t>(rows_) * columns_);
  for (std::size_t i = 0; i < shown.size() && i < cells.size(); ++i) {
    shown[i] = {Glyphs().glyph[cells[i].character], cells[i].attribute};
  }
  console_->WriteCells(shown, rows_, columns_);
}

CursorInfo NativeConsole::Cursor() const {
  const platform::ConsoleCursor cursor = console_->Cursor();
  return {cursor.row, cursor.column, cursor.size_percent, cursor.visible};
}

void NativeConsole::SetCursor(const CursorInfo& cursor) {
  console_->SetCursor({cursor.row, cursor.column, cursor.size_percent, cursor.visible});
}

void NativeConsole::SetTitle(std::string_view title) {
  std::u16string shown;
  for (char c : title) shown += Glyphs().glyph[static_cast<unsigned char>(c)];
  console_->SetTitle(shown);
}

std::optional<Key> NativeConsole::ReadKey() {
  if (console_->TakeInterrupt()) return Key::kEscape;
  if (std::optional<platform::ConsoleKey> key = console_->ReadKey()) return KeyOf(*key);
  return std::nullopt;
}

}  // namespace postil
