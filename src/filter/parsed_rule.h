// A killfile rule line taken apart once, when it is loaded: its ";" parts
// with their option flags, header names and what each part tests. Pure
// data and a pure parser; immutable once in the rule table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postil {

enum class ConditionKind {
  kPattern,       // `text` against the values the flags and header names select
  kBytes,         // `number` at most the message length
  kDays,          // `number` at most the message's age in days
  kThread,        // a thread slot: never, as no thread store is kept
  kTimes,         // `text` occurs at least `number` times
  kTimesNoComma,  // "TIMES@" without its ",": never, not even negated
  kKillAll,       // the whole rule holds
  kIsReply,       // the References input is not empty
};

struct ParsedCondition {
  ConditionKind kind = ConditionKind::kPattern;
  std::uint32_t flags = 0;
  double number = 0;
  std::string text;                       // the pattern or the counted word, folded unless "C"
  std::vector<std::string> header_names;  // upper case, without their ":"
};

struct ParsedRule {
  std::vector<ParsedCondition> parts;  // all must hold, tested left to right
};

// The byte between a rule line's condition and its action.
inline constexpr char kActionMark = '\xAF';

// A rule line's condition text (before its first kActionMark) and its action
// text (after it, empty without one).
struct RuleLineParts {
  std::string_view condition;
  std::string_view action;
};
RuleLineParts SplitRuleLine(std::string_view rule_line);

ParsedRule ParseRuleCondition(std::string_view condition);

}  // namespace postil
