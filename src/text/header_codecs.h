// Base64 for the SMTP authentication and the decoding of "Q" encoded header
// words. Stateless, any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

// Standard Base64 of all bytes, one line, "=" padded.
std::string Base64Encode(std::string_view text);
// The value with its first ISO-8859-1 "Q" encoded word decoded into code
// page 437, else unchanged. Only the escapes of letters that code page 437
// holds are translated; others stay as "=XX". A word without its "?=" is
// decoded to the end of the value.
std::string DecodeHeaderWord(std::string value);

}  // namespace postil
