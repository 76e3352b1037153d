#include "text/date_address.h"

#include <algorithm>
#include <cstdio>

#include "text/text_helpers.h"

namespace postil {
namespace {

// Longest address kept from the "<" form; the host's address field holds no more.
constexpr std::size_t kMaxAddressLength = 255;
// Keeps the zone at four digits whatever a clock reports.
constexpr int kMaxZoneMinutes = 99 * 60 + 59;

// What may stand between a name and its "<address>".
constexpr std::string_view kNameSeparators = " \t";

// An address value split the way both display forms need it.
struct AddressParts {
  std::string address;
  std::string_view name;      // empty when the value carries none
  bool angle_form = false;    // "name <address>" rather than "address comment"
  bool own_parens = false;    // the comment came as "(...)"
};

// "name <address>": the address is everything after the first "<", so text
// behind the ">" stays with it. "address comment": the address ends at the
// first blank. The separators (the blank or tab before "<", the "(" opening
// a comment) are dropped only where they are actually there, so a name written
// without them keeps all its letters.
AddressParts SplitAddress(std::string_view v) {
  AddressParts parts;
  std::size_t open = v.find('<');
  if (open != std::string_view::npos) {
    parts.angle_form = true;
    parts.address = Without(TrimBlanks(v.substr(open + 1, kMaxAddressLength)), '>');
    parts.name = v.substr(0, open);
    if (!parts.name.empty() && kNameSeparators.find(parts.name.back()) != std::string_view::npos) {
      parts.name.remove_suffix(1);
    }
    return parts;
  }
  std::size_t blank = v.find(' ');
  parts.address = std::string(v.substr(0, blank));
  if (blank == std::string_view::npos) return parts;
  parts.name = TrimBlanks(v.substr(blank + 1));
  parts.own_parens = parts.name.starts_with('(');
  if (parts.own_parens) parts.name.remove_prefix(1);
  return parts;
}

}  // namespace

std::string MonthAbbrev(int month) {
  if (month < 1 || month > static_cast<int>(kMonthAbbrevs.size())) return {};
  return std::string(kMonthAbbrevs[month - 1]);
}

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

std::string ClockText(int hour, int minute, int second) {
  return TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

// RFC 5322 requires the zone; without it readers take the local wall-clock
// time for UTC.
std::string MakeDateHeader(const platform::LocalTime& now) {
  int zone = std::clamp(now.utc_offset_minutes, -kMaxZoneMinutes, kMaxZoneMinutes);
  char sign = zone < 0 ? '-' : '+';
  if (zone < 0) zone = -zone;
  char line[96];
  std::snprintf(line, sizeof line, "Date: %02d %s %04d %02d:%02d:%02d %c%02d%02d", now.day,
                MonthAbbrev(now.month).c_str(), now.year, now.hour, now.minute, now.second, sign,
                zone / 60, zone % 60);
  return line;
}

std::string FormatNameAddr(std::string_view value) {
  AddressParts parts = SplitAddress(TrimBlanks(value));
  std::string name;
  if (!parts.name.empty()) {
    name = Without(parts.name, parts.angle_form ? '"' : ')');
    name += ' ';
  }
  return name + "<" + parts.address + ">";
}

std::string FormatAddrComment(std::string_view value) {
  AddressParts parts = SplitAddress(TrimBlanks(value));
  if (parts.name.empty()) return parts.address;
  if (parts.angle_form) return parts.address + " (" + Without(TrimBlanks(parts.name), '"') + ")";
  // A comment in parentheses keeps its own closing one.
  return parts.address + " (" + std::string(parts.name) + (parts.own_parens ? "" : ")");
}

}  // namespace postil
