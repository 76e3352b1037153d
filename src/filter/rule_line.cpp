#include "filter/rule_line.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdlib>
#include <span>
#include <string>

#include "filter/match_pattern.h"
#include "filter/option_flags.h"
#include "text/cp437_case.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

// Only the first header lines are searched, so a huge header costs nothing.
constexpr std::size_t kHeaderLinesSearched = 128;

// The host's arrival-date line and the length of its date, YYYYMMDD.
constexpr std::string_view kArrivalDateName = "EDA";
constexpr std::size_t kArrivalDateLength = 8;

// Header names stand for inputs of the view instead of header lines.
struct NamedInput {
  std::string_view name;
  std::string MessageView::*member;
};
constexpr NamedInput kNamedInputs[] = {
    {"EMP", &MessageView::To},          {"TO", &MessageView::To},
    {"MID", &MessageView::MessageId},   {"MESSAGE-ID", &MessageView::MessageId},
    {"BEZ", &MessageView::References},  {"REFERENCES", &MessageView::References},
};
constexpr std::string_view kLengthName = "LEN";

// UpperCaseChar as a table: header lines are folded byte by byte for many rules.
const std::array<char, 256>& FoldTable() {
  static const std::array<char, 256> table = [] {
    std::array<char, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = UpperCaseChar(static_cast<char>(i));
    return t;
  }();
  return table;
}

char Fold(char c) { return FoldTable()[static_cast<unsigned char>(c)]; }

// Entries 1 to 128 of the header line table (entry 0 is never used).
std::span<const std::string> SearchedHeaderLines(const MessageView& view) {
  if (view.HeaderLines == nullptr || view.HeaderLines->size() <= 1) return {};
  std::size_t count = std::min(view.HeaderLines->size() - 1, kHeaderLinesSearched);
  return std::span<const std::string>(view.HeaderLines->data() + 1, count);
}

// The value of `line` when it begins with `name` and ":" (`name` is upper
// case), leading blanks removed.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (Fold(line[i]) != name[i]) return std::nullopt;
  }
  return TrimLeadingBlanks(line.substr(name.size() + 1));
}

std::optional<long long> ParseArrivalDate(std::string_view text) {
  if (text.size() < kArrivalDateLength) return std::nullopt;
  int fields[3] = {0, 0, 0};
  constexpr std::size_t kWidths[3] = {4, 2, 2};
  std::size_t at = 0;
  for (int f = 0; f < 3; ++f) {
    for (std::size_t i = 0; i < kWidths[f]; ++i, ++at) {
      if (text[at] < '0' || text[at] > '9') return std::nullopt;
      fields[f] = fields[f] * 10 + (text[at] - '0');
    }
  }
  if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31) return std::nullopt;
  return DayNumber(fields[0], fields[1], fields[2]);
}

}  // namespace

long long DayNumber(int year, int month, int day) {
  long long y = year;
  long long m = month;
  if (m > 2) {
    m -= 3;
  } else {
    m += 9;
    y -= 1;
  }
  long long k = y / 100;
  long long a = y % 100;
  return 146097 * k / 4 + 1461 * a / 4 + (153 * m + 2) / 5 + day + 1721119;
}

RuleEvaluator::RuleEvaluator(const MessageView& view, const platform::LocalTime& now)
    : view_(view),
      today_(DayNumber(now.year, now.month, now.day)),
      subject_(UpperCase(view.Subject)),
      from_(UpperCase(view.From)),
      to_(UpperCase(view.To)) {}

RuleOutcome RuleEvaluator::Evaluate(const ParsedRule& rule) {
  RuleOutcome outcome;
  for (const ParsedCondition& part : rule.parts) {
    outcome.flags = part.flags;
    if (part.kind == ConditionKind::kKillAll) {
      outcome.holds = true;
      return outcome;
    }
    if (!Holds(part)) return outcome;
  }
  outcome.holds = !rule.parts.empty();
  return outcome;
}

bool RuleEvaluator::Holds(const ParsedCondition& condition) {
  bool holds = false;
  switch (condition.kind) {
    case ConditionKind::kPattern:
      holds = PatternHolds(condition);
      break;
    case ConditionKind::kBytes:
      holds = condition.number <= static_cast<double>(view_.Size);
      break;
    case ConditionKind::kDays:
      holds = condition.number <= static_cast<double>(AgeInDays());
      break;
    case ConditionKind::kThread:
      break;
    case ConditionKind::kTimes:
      holds = TimesHold(condition);
      break;
    case ConditionKind::kTimesNoComma:
      return false;
    case ConditionKind::kKillAll:
      return true;
    case ConditionKind::kIsReply:
      holds = !view_.References.empty();
      break;
  }
  return (condition.flags & kOptionX) ? !holds : holds;
}

bool RuleEvaluator::TimesHold(const ParsedCondition& condition) const {
  bool case_sensitive = (condition.flags & kOptionC) != 0;
  std::size_t count = 0;
  if (condition.flags & kOptionS) {
    count += CountOccurrences(condition.text, case_sensitive ? view_.Subject : subject_);
  }
  if (condition.flags & kOptionN) {
    count += CountOccurrences(condition.text, case_sensitive ? view_.From : from_);
  }
  return static_cast<double>(count) >= condition.number;
}

bool RuleEvaluator::PatternHolds(const ParsedCondition& condition) {
  const std::uint32_t flags = condition.flags;
  const bool case_sensitive = (flags & kOptionC) != 0;
  const std::string_view pattern = condition.text;
  if ((flags & kOptionS) &&
      MatchFoldedText(pattern, case_sensitive ? view_.Subject : subject_, flags)) {
    return true;
  }
  if ((flags & kOptionN) && MatchFoldedText(pattern, case_sensitive ? view_.From : from_, flags)) {
    return true;
  }
  if ((flags & kOptionB) && MatchFoldedText(pattern, case_sensitive ? view_.To : to_, flags)) {
    return true;
  }
  for (const std::string& name : condition.header_names) {
    if (HeaderValueMatches(name, condition)) return true;
  }
  return false;
}

// The value a header name stands for: an input of the view, the message
// length, or the values of all header lines of that name, each followed by
// 0xFF. Folded unless `case_sensitive`.
std::string RuleEvaluator::HeaderNameValue(std::string_view name, bool case_sensitive) const {
  std::string value;
  if (name == kLengthName) {
    value = std::to_string(view_.Size);
  } else if (auto input = std::find_if(std::begin(kNamedInputs), std::end(kNamedInputs),
                                       [&](const NamedInput& i) { return i.name == name; });
             input != std::end(kNamedInputs)) {
    value = view_.*(input->member);
  } else {
    for (const std::string& line : SearchedHeaderLines(view_)) {
      if (line.empty()) break;
      if (std::optional<std::string_view> text = HeaderValue(line, name)) {
        value += *text;
        value += '\xFF';
      }
    }
  }
  if (!case_sensitive) {
    for (char& c : value) c = Fold(c);
  }
  return value;
}

// Many rules ask for the same few header names; each value is built once
// per message.
const std::string& RuleEvaluator::CachedHeaderValue(const std::string& name,
                                                    bool case_sensitive) {
  auto& cache = case_sensitive ? exact_values_ : folded_values_;
  auto found = cache.find(name);
  if (found == cache.end()) found = cache.emplace(name, HeaderNameValue(name, case_sensitive)).first;
  return found->second;
}

// A value that holds a CR is matched up to a CR of its own, unless the
// pattern leaves the rest open anyway.
bool RuleEvaluator::HeaderValueMatches(const std::string& name, const ParsedCondition& condition) {
  const std::uint32_t flags = condition.flags;
  const std::string_view pattern = condition.text;
  const std::string& value = CachedHeaderValue(name, (flags & kOptionC) != 0);
  if (value.empty()) return false;
  if (value.find('\r') == kNotFound || (!pattern.empty() && pattern.back() == '*')) {
    return MatchFoldedText(pattern, value, flags);
  }
  return MatchFoldedText(std::string(pattern) + "\r*", value + '\r', flags);
}

// Days between today and the date of the first "EDA:" line; 0 without one
// (or when its date cannot be read).
long long RuleEvaluator::AgeInDays() {
  if (age_) return *age_;
  age_ = 0;
  for (const std::string& line : SearchedHeaderLines(view_)) {
    std::optional<std::string_view> value = HeaderValue(line, kArrivalDateName);
    if (!value) continue;
    if (std::optional<long long> day = ParseArrivalDate(*value)) age_ = std::llabs(today_ - *day);
    break;
  }
  return *age_;
}

}  // namespace postil
