// Placeholders until the text helpers land.
#include "text/cp437_glyphs.h"
#include "text/date_address.h"
#include "text/header_codecs.h"

namespace postil {

std::string MonthAbbrev(int) { return {}; }
std::string MakeDateHeader(const platform::LocalTime&) { return {}; }
std::string FormatNameAddr(std::string value) { return value; }
std::string FormatAddrComment(std::string value) { return value; }
std::string Base64Encode(std::string_view) { return {}; }
std::string DecodeHeaderWord(std::string value) { return value; }
std::string_view Cp437GlyphUtf8(unsigned char) { return "?"; }

}  // namespace postil
