#include "text/cp437_glyphs.h"

#include <array>

namespace postil {
namespace {

// 0x00 shows as a blank, 0x01..0x1F as the pictures the PC shows for them.
constexpr std::array<std::string_view, 0x20> kControlGlyphs = {{
    " ", "☺", "☻", "♥", "♦", "♣", "♠", "•",
    "◘", "○", "◙", "♂", "♀", "♪", "♫", "☼",
    "►", "◄", "↕", "‼", "¶", "§", "▬", "↨",
    "↑", "↓", "→", "←", "∟", "↔", "▲", "▼",
}};

constexpr std::string_view kPrintable =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNO"
    "PQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

constexpr std::string_view kDeleteGlyph = "⌂";

// 0x80..0xFF; 0xFF is the no-break space.
constexpr std::array<std::string_view, 0x80> kHighGlyphs = {{
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç",
    "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å",
    "É", "æ", "Æ", "ô", "ö", "ò", "û", "ù",
    "ÿ", "Ö", "Ü", "¢", "£", "¥", "₧", "ƒ",
    "á", "í", "ó", "ú", "ñ", "Ñ", "ª", "º",
    "¿", "⌐", "¬", "½", "¼", "¡", "«", "»",
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖",
    "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐",
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟",
    "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧",
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫",
    "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀",
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ",
    "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩",
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈",
    "°", "∙", "·", "√", "ⁿ", "²", "■", "\u00A0",
}};

static_assert(kPrintable.size() == 0x7F - 0x20);

}  // namespace

std::string_view Cp437GlyphUtf8(unsigned char byte) {
  if (byte < 0x20) return kControlGlyphs[byte];
  if (byte < 0x7F) return kPrintable.substr(byte - 0x20, 1);
  if (byte == 0x7F) return kDeleteGlyph;
  return kHighGlyphs[byte - 0x80];
}

}  // namespace postil
