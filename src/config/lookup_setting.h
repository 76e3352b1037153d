// Key lookup in a configuration text and the word tests used on settings.
// Pure functions over text, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace postil {

// The value of the first line of `text` that begins with `key` (its trailing
// "=" included) without regard to case, or `default_value` when no line
// matches or the value is empty. With `strip_first` the key's first
// character (its "$") is dropped before the search. In the part of a line up
// to its first ":" or "=", ":" counts as "=" and one blank before it is
// dropped; the value after it is the original text, trimmed of blanks. Text
// after the last LF is never examined. A UTF-8 byte order mark at the start
// of `text` is not part of the first line.
std::string LookupSetting(std::string_view text, std::string_view key,
                          std::string_view default_value, bool strip_first);

// "enabled", "j", "y", "on", "ein", "true" or "1", without regard to case.
bool IsYesWord(std::string_view value);

// "disabled", "n", "off", "false", "aus" or "0", without regard to case.
bool IsOffWord(std::string_view value);

// The numeric rule of settings: leading blanks skipped, the longest leading
// decimal number (sign and fraction allowed) rounded to the nearest whole
// number; 0 when the text does not begin with a number.
double NumericValue(std::string_view text);

// The longest leading decimal number after leading blanks, unrounded;
// nothing when the text does not begin with one.
std::optional<double> LeadingNumber(std::string_view text);

}  // namespace postil
