// Evaluating the condition text of one killfile rule line against a message:
// the ";" conjunction, the shared option word, the keyword conditions and
// the pattern conditions. One evaluator per EvaluateFilter call, owned by
// the POP3 worker; it keeps the message's values folded once for all rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_eval.h"
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

  // `condition` is the rule line before its first 0xAF byte.
  RuleOutcome Evaluate(std::string_view condition);

 private:
  enum class PartResult { kFails, kHolds, kRuleHolds };

  PartResult EvaluatePart(std::string_view part, std::uint32_t* flags);
  std::uint32_t ParseOptions();
  std::optional<bool> KeywordHolds(std::string_view part, std::uint32_t flags);
  bool TimesHolds(std::string_view part, std::size_t keyword_end, std::uint32_t flags) const;
  bool PatternHolds(std::string_view part, std::uint32_t flags);
  void CollectHeaderValue(std::string_view name);
  bool HeaderValueMatches(std::string_view name, std::string_view pattern, std::uint32_t flags);
  double NumberAt(std::size_t position) const;
  long long AgeInDays();

  const MessageView& view_;
  long long today_;
  std::optional<long long> age_;  // found on first use
  std::string subject_;           // the values upper-cased once
  std::string from_;
  std::string to_;

  // Scratch reused from rule to rule, so a walk over many rules allocates
  // only while its buffers grow.
  std::string part_;                          // a part with the shared option word
  std::string upper_;                         // the part upper-cased
  std::string pattern_;
  std::string value_;
  std::vector<std::string_view> names_;       // header names of the part, views into upper_
};

}  // namespace postil
