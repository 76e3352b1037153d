// Case folding of code page 437 text, used for every comparison without
// regard to case: a-z and the letters ä ö ü é ñ å ç with their capitals;
// every other byte stays as it is. Stateless, any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

char UpperCaseChar(char c);
char LowerCaseChar(char c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

}  // namespace postil
