// Evaluating a parsed killfile rule against one message. One evaluator per
// EvaluateFilter call, owned by the POP3 worker; it keeps the message's
// values folded once for all the rules it is asked about.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "filter/filter_eval.h"
#include "filter/parsed_rule.h"
#include "platform/clock.h"

namespace postil {

// The Julian day number of a Gregorian date.
long long DayNumber(int year, int month, int day);

struct RuleOutcome {
  bool holds = false;
  std::uint32_t flags = 0;  // of the part evaluated last
};

class RuleEvaluator {
 public:
  // `view` must outlive the evaluator.
  RuleEvaluator(const MessageView& view, const platform::LocalTime& now);

  // The parts are tested from left to right up to the first that fails; a
  // "KILLALL" part makes the rule hold at once.
  RuleOutcome Evaluate(const ParsedRule& rule);

 private:
  bool Holds(const ParsedCondition& condition);
  bool PatternHolds(const ParsedCondition& condition);
  bool TimesHold(const ParsedCondition& condition) const;
  bool HeaderValueMatches(const std::string& name, const ParsedCondition& condition);
  const std::string& CachedHeaderValue(const std::string& name, bool case_sensitive);
  std::string HeaderNameValue(std::string_view name, bool case_sensitive) const;
  long long AgeInDays();

  const MessageView& view_;
  long long today_;
  std::optional<long long> age_;  // found on first use
  std::string subject_;           // the values upper-cased once
  std::string from_;
  std::string to_;
  // Values of header names by name, folded or as received.
  std::unordered_map<std::string, std::string> folded_values_;
  std::unordered_map<std::string, std::string> exact_values_;
};

}  // namespace postil
