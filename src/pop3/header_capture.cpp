#include "pop3/header_capture.h"

#include <array>

#include "text/cp437_case.h"
#include "text/header_codecs.h"

namespace postil {
namespace {

enum class Trim { kBoth, kLeading, kNone };

struct CapturedField {
  std::string_view prefix;  // upper case
  HeaderField field;
  Trim trim;
  bool decode;
  std::string CapturedHeader::*value;
};

constexpr std::array<CapturedField, 5> kCapturedFields = {{
    {"TO: ", HeaderField::kTo, Trim::kBoth, true, &CapturedHeader::to},
    {"FROM: ", HeaderField::kFrom, Trim::kBoth, true, &CapturedHeader::from},
    {"SUBJECT: ", HeaderField::kSubject, Trim::kNone, true, &CapturedHeader::subject},
    {"ENVELOPE-TO: ", HeaderField::kEnvelopeTo, Trim::kBoth, false, &CapturedHeader::envelope_to},
    {"MESSAGE-ID: ", HeaderField::kMessageId, Trim::kLeading, false, &CapturedHeader::message_id},
}};

bool BeginsWithUpper(std::string_view line, std::string_view upper_prefix) {
  return line.size() >= upper_prefix.size() &&
         UpperCase(line.substr(0, upper_prefix.size())) == upper_prefix;
}

std::string_view Trimmed(std::string_view text, Trim trim) {
  if (trim == Trim::kNone) return text;
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  text.remove_prefix(start);
  if (trim == Trim::kBoth) text = text.substr(0, text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace

HeaderField CaptureHeaderLine(std::string_view line, bool use_envelope, CapturedHeader* header) {
  for (const CapturedField& field : kCapturedFields) {
    if (!BeginsWithUpper(line, field.prefix)) continue;
    if (field.field == HeaderField::kEnvelopeTo && !use_envelope) return HeaderField::kNone;
    std::string value(Trimmed(line.substr(field.prefix.size()), field.trim));
    header->*field.value = field.decode ? DecodeHeaderWord(std::move(value)) : std::move(value);
    return field.field;
  }
  return HeaderField::kNone;
}

bool IsSecurityViolation(std::string_view line) { return BeginsWithUpper(line, kSecurityPrefix); }

}  // namespace postil
