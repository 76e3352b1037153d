// Small text helpers shared by the parsers and writers: blank trimming,
// dropping one character, the control-byte test. Pure, any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

// `text` without the blanks at its start and end. Only the space counts as a
// blank: a TAB is part of the text, in the configuration, the killfile and
// mail headers alike.
std::string_view TrimBlanks(std::string_view text);
// `text` without the blanks (spaces only) at its start.
std::string_view TrimLeadingBlanks(std::string_view text);
// A copy of `text` with every `removed` character taken out.
std::string Without(std::string_view text, char removed);
// The C0 controls 0x00..0x1F and DEL; every other byte, 0x80..0xFF included,
// is a printable character of code page 437.
bool IsControlByte(unsigned char byte);

}  // namespace postil
