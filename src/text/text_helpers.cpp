#include "text/text_helpers.h"

#include <algorithm>

namespace postil {

std::string_view TrimBlanks(std::string_view text) {
  text = TrimLeadingBlanks(text);
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

std::string_view TrimLeadingBlanks(std::string_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  return text;
}

std::string Without(std::string_view text, char removed) {
  std::string out(text);
  std::erase(out, removed);
  return out;
}

bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace postil
