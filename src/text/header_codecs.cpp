#include "text/header_codecs.h"

#include <algorithm>
#include <array>
#include <optional>

#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::string_view kIntroducer = "=?ISO-8859-1?Q?";
constexpr std::string_view kTerminator = "?=";

struct Escape {
  std::string_view code;  // case-sensitive: only upper-case hex counts
  char byte;              // the character in code page 437
};

// ISO-8859-1 escapes with their code page 437 bytes. "=FD" (y acute) has no
// counterpart in code page 437 and stays as it is, like every escape missing here.
constexpr std::array<Escape, 13> kEscapes = {{
    {"_", '\x20'},
    {"=20", '\x20'},
    {"=2C", '\x2C'},
    {"=2D", '\x2D'},
    {"=5F", '\x5F'},
    {"=B2", '\xFD'},  // superscript two
    {"=C4", '\x8E'},  // A diaeresis
    {"=DC", '\x9A'},  // U diaeresis
    {"=D6", '\x99'},  // O diaeresis
    {"=DF", '\xE1'},  // sharp s
    {"=E4", '\x84'},  // a diaeresis
    {"=F6", '\x94'},  // o diaeresis
    {"=FC", '\x81'},  // u diaeresis
}};

std::optional<char> EscapeAt(std::string_view text) {
  for (const Escape& escape : kEscapes) {
    if (text.starts_with(escape.code)) return escape.byte;
  }
  return std::nullopt;
}

// One pass over the text. It gives what replacing row after row would give:
// no replacement yields "=" or a hex digit, so none can form a new escape, and
// a plain "_" is a blank while an escaped "=5F" is an underscore either way.
std::string DecodeQText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::optional<char> byte;
    if (text[i] == '_' || text[i] == '=') byte = EscapeAt(text.substr(i));
    if (!byte) {
      out += text[i];
      continue;
    }
    out += *byte;
    i += text[i] == '_' ? 0 : 2;
  }
  return out;
}

// `pattern` is upper-case.
std::size_t FindIgnoringCase(std::string_view text, std::string_view pattern) {
  auto found = std::search(text.begin(), text.end(), pattern.begin(), pattern.end(),
                           [](char a, char b) { return UpperCaseChar(a) == b; });
  return found == text.end() ? std::string_view::npos : found - text.begin();
}

}  // namespace

std::string Base64Encode(std::string_view text) {
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < text.size(); i += 3) {
    std::size_t count = std::min<std::size_t>(3, text.size() - i);
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      unsigned byte = k < count ? static_cast<unsigned char>(text[i + k]) : 0;
      group = group << 8 | byte;
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= count ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

std::string DecodeHeaderWord(std::string value) {
  std::string_view text(value);
  std::size_t start = FindIgnoringCase(text, kIntroducer);
  if (start == std::string_view::npos) return value;
  std::size_t encoded = start + kIntroducer.size();
  std::size_t end = text.find(kTerminator, encoded);
  std::string_view rest;
  if (end != std::string_view::npos) {
    rest = text.substr(end + kTerminator.size());
  } else {
    end = text.size();
  }
  return std::string(text.substr(0, start)) + DecodeQText(text.substr(encoded, end - encoded)) +
         std::string(rest);
}

}  // namespace postil
