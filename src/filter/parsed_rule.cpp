#include "filter/parsed_rule.h"

#include <array>
#include <utility>

#include "config/lookup_setting.h"
#include "filter/option_flags.h"
#include "text/cp437_case.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr char kOptionMark = '\xEA';
constexpr std::size_t kNotFound = std::string_view::npos;

// The keywords are looked for anywhere in a part (quotes included), in this
// order; each needs the number that follows it.
constexpr std::array<std::pair<std::string_view, ConditionKind>, 4> kNumberKeywords = {{
    {"BYTES@", ConditionKind::kBytes},
    {"DAYS@", ConditionKind::kDays},
    {"THREAD@", ConditionKind::kThread},
    {"TIMES@", ConditionKind::kTimes},
}};

// Splits a quoted group of an option word at ":" into header names.
void AddHeaderNames(std::string_view group, std::vector<std::string>* names) {
  while (!group.empty()) {
    std::size_t colon = group.find(':');
    std::string_view name = group.substr(0, colon);
    if (!name.empty()) names->emplace_back(name);
    if (colon == kNotFound) break;
    group.remove_prefix(colon + 1);
  }
}

// The option word runs from the first 0xEA to the next blank. A letter
// counts once, however often it is repeated, so "SS" is still "S".
void ParseOptions(std::string_view upper, ParsedCondition* condition) {
  std::size_t mark = upper.find(kOptionMark);
  if (mark == kNotFound) {
    condition->flags = kDefaultOptions;
    return;
  }
  std::string_view word = upper.substr(mark + 1);
  word = word.substr(0, word.find(' '));
  std::uint32_t flags = 0;
  std::size_t group_begin = kNotFound;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '"') {
      if (group_begin == kNotFound) flags |= OptionLetterValue(word[i]);
    } else if (group_begin == kNotFound) {
      group_begin = i + 1;
    } else {
      AddHeaderNames(word.substr(group_begin, i - group_begin), &condition->header_names);
      group_begin = kNotFound;
    }
  }
  // An unclosed group runs to the end of the word.
  if (group_begin != kNotFound) AddHeaderNames(word.substr(group_begin), &condition->header_names);
  if (!(flags & kTargetOptions) && condition->header_names.empty()) flags |= kOptionS;
  if (!(flags & kModeOptions)) flags |= kOptionM;
  condition->flags = flags;
}

// "TIMES@n,word": the word ends where an option word begins (with the blanks
// before it), so the letters that choose the searched values are not
// counted as part of the word.
void ParseTimesWord(std::string_view part, std::string_view upper, std::size_t keyword_end,
                    ParsedCondition* condition) {
  std::size_t comma = upper.find(',', keyword_end);
  if (comma == kNotFound) {
    condition->kind = ConditionKind::kTimesNoComma;
    return;
  }
  std::size_t word_end = upper.find(kOptionMark, comma + 1);
  if (word_end == kNotFound) {
    word_end = upper.size();
  } else {
    while (word_end > comma + 1 && upper[word_end - 1] == ' ') --word_end;
  }
  std::size_t length = word_end - comma - 1;
  if (condition->flags & kOptionC) {
    condition->text = part.substr(comma + 1, length);
  } else {
    condition->text = TrimBlanks(upper.substr(comma + 1, length));
  }
}

// The pattern stands between the part's first two double quotes (after a
// single one, to the end; with none, it is the whole part).
void ParsePattern(std::string_view part, ParsedCondition* condition) {
  std::string_view pattern = part;
  if (std::size_t open = part.find('"'); open != kNotFound) {
    std::size_t close = part.find('"', open + 1);
    pattern = part.substr(open + 1, close == kNotFound ? kNotFound : close - open - 1);
  }
  condition->text = (condition->flags & kOptionC) ? std::string(pattern) : UpperCase(pattern);
}

ParsedCondition ParsePart(std::string_view part) {
  std::string upper = UpperCase(part);
  ParsedCondition condition;
  ParseOptions(upper, &condition);
  for (auto [keyword, kind] : kNumberKeywords) {
    std::size_t at = upper.find(keyword);
    if (at == kNotFound) continue;
    std::size_t keyword_end = at + keyword.size();
    condition.kind = kind;
    condition.number = LeadingNumber(std::string_view(upper).substr(keyword_end)).value_or(0);
    if (kind == ConditionKind::kTimes) ParseTimesWord(part, upper, keyword_end, &condition);
    return condition;
  }
  if (upper.find("KILLALL") != kNotFound) {
    condition.kind = ConditionKind::kKillAll;
  } else if (upper.find("ISREPLY") != kNotFound) {
    condition.kind = ConditionKind::kIsReply;
  } else {
    ParsePattern(part, &condition);
  }
  return condition;
}

// The end of the part that starts at `begin`: the next ";" with an even
// number of double quotes before it in the condition, or the end.
std::size_t PartEnd(std::string_view condition, std::size_t begin, std::size_t* quotes) {
  for (std::size_t i = begin; i < condition.size(); ++i) {
    if (condition[i] == '"') ++*quotes;
    if (condition[i] == ';' && *quotes % 2 == 0) return i;
  }
  return condition.size();
}

}  // namespace

RuleLineParts SplitRuleLine(std::string_view rule_line) {
  std::size_t mark = rule_line.find(kActionMark);
  if (mark == kNotFound) return {rule_line, {}};
  return {rule_line.substr(0, mark), rule_line.substr(mark + 1)};
}

ParsedRule ParseRuleCondition(std::string_view condition) {
  // The line's first option word serves every part that has none of its own.
  std::string_view shared;
  if (std::size_t mark = condition.find(kOptionMark); mark != kNotFound) {
    shared = condition.substr(mark, condition.find_first_of(" ;", mark) - mark);
  }
  ParsedRule rule;
  std::size_t quotes = 0;
  for (std::size_t begin = 0;;) {
    std::size_t end = PartEnd(condition, begin, &quotes);
    std::string_view part = condition.substr(begin, end - begin);
    if (!shared.empty() && part.find(kOptionMark) == kNotFound) {
      rule.parts.push_back(ParsePart(std::string(part) + std::string(shared)));
    } else {
      rule.parts.push_back(ParsePart(part));
    }
    if (end == condition.size()) break;
    begin = end + 1;
  }
  return rule;
}

}  // namespace postil
