#include "text/cp437_glyphs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace postil {
namespace {

// The one code point a UTF-8 text holds, or nothing when it is not exactly one
// well-formed, shortest-form sequence.
std::optional<std::uint32_t> SingleCodePoint(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : 0;
  if (length == 0 || text.size() != length) return std::nullopt;
  std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    auto next = static_cast<unsigned char>(text[i]);
    if (next >> 6 != 0x2) return std::nullopt;
    code = code << 6 | (next & 0x3F);
  }
  const std::uint32_t shortest[] = {0, 0, 0x80, 0x800};
  if (length > 1 && code < shortest[length]) return std::nullopt;
  return code;
}

TEST(Cp437GlyphsTest, KnownGlyphs) {
  const std::map<int, std::string_view> cases = {
      {0x00, " "},  {0x01, "☺"},  {0x07, "•"},  {0x0A, "◙"},  {0x0D, "♪"},  {0x1B, "←"},
      {0x1F, "▼"},  {0x20, " "},  {0x41, "A"},  {0x5C, "\\"}, {0x7E, "~"},  {0x7F, "⌂"},
      {0x80, "Ç"},  {0x81, "ü"},  {0x9E, "₧"},  {0xB0, "░"},  {0xB3, "│"},  {0xC0, "└"},
      {0xC3, "├"},  {0xC4, "─"},  {0xCD, "═"},  {0xDA, "┌"},  {0xDB, "█"},  {0xE1, "ß"},
      {0xE6, "µ"},  {0xFD, "²"},  {0xFE, "■"},  {0xFF, "\u00A0"},
  };
  for (auto [byte, glyph] : cases) {
    SCOPED_TRACE(byte);
    EXPECT_EQ(Cp437GlyphUtf8(static_cast<unsigned char>(byte)), glyph);
  }
}

// No byte may reach the terminal as a control: every glyph is one printable
// code point, ASCII shows as itself, and no two bytes look alike except 0x00
// and the blank.
TEST(Cp437GlyphsTest, EveryByteIsOneDistinctPrintableCodePoint) {
  std::map<std::uint32_t, int> seen;
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    std::optional<std::uint32_t> code = SingleCodePoint(Cp437GlyphUtf8(static_cast<unsigned char>(byte)));
    ASSERT_TRUE(code.has_value());
    EXPECT_FALSE(*code < 0x20 || (*code >= 0x7F && *code < 0xA0)) << std::hex << *code;
    if (byte >= 0x20 && byte < 0x7F) {
      EXPECT_EQ(*code, static_cast<std::uint32_t>(byte));
    }
    auto [it, fresh] = seen.emplace(*code, byte);
    if (!fresh) {
      EXPECT_EQ(it->second * 256 + byte, 0x20) << "same glyph as " << it->second;
    }
  }
}

}  // namespace
}  // namespace postil
