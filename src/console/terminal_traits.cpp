#include "console/terminal_traits.h"

#include "platform/files.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Code page 437 0x80 .. 0xAF: accented letters and a few signs.
constexpr std::string_view kLatinStandIns = "CueaaaaceeeiiiAAE??ooouuyOUc?Y?faiounNao?--?" "?!<>";
static_assert(kLatinStandIns.size() == 0x30);

}  // namespace

TerminalTraits ReadTerminalTraits(std::string_view term, std::string_view colorterm,
                                  std::string_view locale) {
  TerminalTraits traits;
  traits.can_draw = !term.empty() && term != "dumb";
  const std::string lower_locale = LowerCase(locale);
  traits.utf8 = Contains(lower_locale, "utf-8") || Contains(lower_locale, "utf8");
  if (colorterm == "truecolor" || colorterm == "24bit") {
    traits.colours = ColourDepth::kDirect;
  } else if (Contains(term, "256color")) {
    traits.colours = ColourDepth::k256;
  }
  return traits;
}

TerminalTraits ProcessTerminalTraits() {
  std::string locale;
  for (std::string_view name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    locale = platform::GetEnvironment(name);
    if (!locale.empty()) break;
  }
  return ReadTerminalTraits(platform::GetEnvironment("TERM"), platform::GetEnvironment("COLORTERM"),
                            locale);
}

char AsciiStandIn(unsigned char byte) {
  if (byte >= 0x20 && byte < 0x7F) return static_cast<char>(byte);
  if (byte >= 0x80 && byte < 0xB0) return kLatinStandIns[byte - 0x80];
  if (byte == 0xB3 || byte == 0xBA) return '|';
  if (byte == 0xC4 || byte == 0xCD) return '-';
  if ((byte >= 0xB0 && byte <= 0xB2) || (byte >= 0xDB && byte <= 0xDF)) return '#';
  if (byte >= 0xB4 && byte <= 0xDA) return '+';
  return '?';
}

}  // namespace postil
