// For the filter's tests only: killfile text written with stand-ins for the
// syntax bytes, so rules read plainly in a table.
#pragma once

#include <string>
#include <string_view>

#include "filter/killfile.h"
#include "filter/rule_table.h"

namespace postil::test {

// "%" stands for 0xEA (option word), "|" for 0xAF (action), "#" for 0xFE
// (comment); every other byte is itself.
inline std::string KillText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '%') c = '\xEA';
    if (c == '|') c = '\xAF';
    if (c == '#') c = '\xFE';
  }
  return out;
}

// A rule table read from killfile text (stand-ins replaced), one line per LF.
inline RuleTable KillTable(std::string_view text) {
  RuleTable rules;
  std::string bytes = KillText(text);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    std::size_t lf = rest.find('\n');
    AddKillfileLine(rest.substr(0, lf), &rules);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
  }
  return rules;
}

}  // namespace postil::test
