// The glyphs of code page 437 as UTF-8, for showing bytes on a terminal.
// Control bytes have their glyphs too, so no byte of a text ever reaches the
// terminal as a control sequence. Constant table, any thread.
#pragma once

#include <string_view>

namespace postil {

std::string_view Cp437GlyphUtf8(unsigned char byte);

}  // namespace postil
