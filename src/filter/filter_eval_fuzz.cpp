// libFuzzer target: any killfile against any header. Every match is a rule
// of the table and says its action; the walk ends; a verdict is reached.
// Input: killfile lines, a line "." and then Subject, From, To and header lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_eval.h"
#include "filter/killfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  RuleTable rules;
  std::vector<std::string> header{""};  // entry 0 is unused
  bool in_header = false;
  for (std::string_view rest = input; !rest.empty();) {
    std::size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? "" : rest.substr(lf + 1);
    if (in_header)
      header.emplace_back(line);
    else if (line == ".")
      in_header = true;
    else
      AddKillfileLine(line, &rules);
  }
  header.resize(std::max<std::size_t>(header.size(), 4));
  MessageView view{header[2], header[1], header[3], "", "<id@fuzz>", &header, 4000};
  const platform::LocalTime today{2026, 12, 10};
  FilterCursor cursor;
  std::size_t rule_count = 0;
  for (const KillSection& section : rules.sections) rule_count += section.rules.size();
  for (std::size_t call = 0; call <= rule_count; ++call) {
    FilterResult result = EvaluateFilter(rules, view, &cursor, today);
    if (!result.matched) break;
    const std::string& line = rules.sections.at(cursor.section - 1).rules.at(cursor.entry - 2);
    std::size_t mark = line.find('\xAF');
    std::string action = mark == std::string::npos ? "" : line.substr(mark + 1);
    if (result.action != action || result.reason != line.substr(0, mark) + "\xAF" + action)
      std::abort();
  }
  DecideFilterVerdict(rules, view, today);
  return 0;
}
