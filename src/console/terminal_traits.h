// What the terminal POSTIL runs in can show, read from the environment the
// way terminal programs do: TERM (a dumb or unknown terminal gets no panel),
// COLORTERM and TERM for the colours, the locale for UTF-8. Pure apart from
// ProcessTerminalTraits; any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

enum class ColourDepth {
  kAnsi16,  // the terminal's own palette for the 16 colours
  k256,     // the nearest entries of the xterm 256-colour cube
  kDirect,  // the exact VGA colours as RGB
};

struct TerminalTraits {
  bool can_draw = true;  // cursor movement and colours
  bool utf8 = true;      // code page 437 glyphs in UTF-8; else ASCII stand-ins
  ColourDepth colours = ColourDepth::kAnsi16;
};

// From the values of TERM, COLORTERM and the locale in force (LC_ALL, else
// LC_CTYPE, else LANG; empty when none is set).
TerminalTraits ReadTerminalTraits(std::string_view term, std::string_view colorterm,
                                  std::string_view locale);

// The same, from this process's environment.
TerminalTraits ProcessTerminalTraits();

// The text a terminal without UTF-8 shows for a code page 437 byte: the
// byte itself when it is printable ASCII, else an ASCII stand-in (box lines
// as + - |, accented letters as their base letter), else "?".
char AsciiStandIn(unsigned char byte);

}  // namespace postil
