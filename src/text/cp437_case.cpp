#include "text/cp437_case.h"

#include <array>
#include <utility>

namespace postil {
namespace {

// Small and capital forms of the accented letters that fold in code page 437.
constexpr std::array<std::pair<unsigned char, unsigned char>, 7> kAccentedPairs = {{
    {0x84, 0x8E},  // ä Ä
    {0x94, 0x99},  // ö Ö
    {0x81, 0x9A},  // ü Ü
    {0x82, 0x90},  // é É
    {0xA4, 0xA5},  // ñ Ñ
    {0x86, 0x8F},  // å Å
    {0x87, 0x80},  // ç Ç
}};

}  // namespace

char UpperCaseChar(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 'a' + 'A');
  for (auto [small, capital] : kAccentedPairs) {
    if (byte == small) return static_cast<char>(capital);
  }
  return c;
}

char LowerCaseChar(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte >= 'A' && byte <= 'Z') return static_cast<char>(byte - 'A' + 'a');
  for (auto [small, capital] : kAccentedPairs) {
    if (byte == capital) return static_cast<char>(small);
  }
  return c;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperCaseChar(c);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerCaseChar(c);
  return out;
}

}  // namespace postil
