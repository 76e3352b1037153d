#include "config/lookup_setting.h"

#include <initializer_list>
#include <cmath>
#include <cstdlib>

#include "text/cp437_case.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> words) {
  std::string lower = LowerCase(value);
  for (std::string_view word : words) {
    if (lower == word) return true;
  }
  return false;
}

}  // namespace

std::string LookupSetting(std::string_view text, std::string_view key,
                          std::string_view default_value, bool strip_first) {
  // Editors that save UTF-8 put this mark before the first key; it would
  // hide that key.
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  if (strip_first && !key.empty()) key.remove_prefix(1);
  std::string wanted = UpperCase(key);
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string_view::npos;
       start = lf + 1, lf = text.find('\n', start)) {
    std::string line = Without(text.substr(start, lf - start), '\r');
    std::size_t separator = line.find_first_of(":=");
    if (separator == std::string::npos) continue;
    // Only the key part is rewritten, so a value keeps its own ":" and "=".
    std::string head = line.substr(0, separator);
    if (!head.empty() && head.back() == ' ') head.pop_back();
    head += '=';
    std::string rewritten = UpperCase(head + line.substr(separator + 1));
    if (rewritten.compare(0, wanted.size(), wanted) != 0) continue;
    std::string_view value = TrimBlanks(std::string_view(line).substr(separator + 1));
    return value.empty() ? std::string(default_value) : std::string(value);
  }
  return std::string(default_value);
}

bool IsYesWord(std::string_view value) {
  return IsOneOf(value, {"enabled", "j", "y", "on", "ein", "true", "1"});
}

bool IsOffWord(std::string_view value) {
  return IsOneOf(value, {"disabled", "n", "off", "false", "aus", "0"});
}

std::optional<double> LeadingNumber(std::string_view text) {
  text = TrimLeadingBlanks(text);
  std::size_t end = 0;
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  bool digits = false;
  for (; end < text.size() && text[end] >= '0' && text[end] <= '9'; ++end) digits = true;
  if (end < text.size() && text[end] == '.') {
    for (++end; end < text.size() && text[end] >= '0' && text[end] <= '9'; ++end) digits = true;
  }
  if (!digits) return std::nullopt;
  return std::strtod(std::string(text.substr(0, end)).c_str(), nullptr);
}

double NumericValue(std::string_view text) { return std::round(LeadingNumber(text).value_or(0)); }

}  // namespace postil
