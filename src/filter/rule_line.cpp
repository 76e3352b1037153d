#include "filter/rule_line.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>

#include "config/lookup_setting.h"
#include "filter/match_pattern.h"
#include "filter/option_flags.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr char kOptionMark = '\xEA';
constexpr std::size_t kNotFound = std::string_view::npos;

// Only the first header lines are searched, so a huge header costs nothing.
constexpr std::size_t kHeaderLinesSearched = 128;

// The host's arrival-date line and the length of its date, YYYYMMDD.
constexpr std::string_view kArrivalDateName = "EDA";
constexpr std::size_t kArrivalDateLength = 8;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool Negate(bool holds, std::uint32_t flags) { return (flags & kOptionX) ? !holds : holds; }

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
    if (UpperCaseChar(line[i]) != name[i]) return std::nullopt;
  }
  std::string_view value = line.substr(name.size() + 1);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return value;
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

// Splits the quoted groups of an option word at ":" into header names.
void AddHeaderNames(std::string_view group, std::vector<std::string_view>* names) {
  while (!group.empty()) {
    std::size_t colon = group.find(':');
    std::string_view name = group.substr(0, colon);
    if (!name.empty()) names->push_back(name);
    if (colon == kNotFound) break;
    group.remove_prefix(colon + 1);
  }
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

RuleOutcome RuleEvaluator::Evaluate(std::string_view condition) {
  // The line's first option word serves every part that has none of its own.
  std::string_view shared;
  if (std::size_t mark = condition.find(kOptionMark); mark != kNotFound) {
    shared = condition.substr(mark, condition.find_first_of(" ;", mark) - mark);
  }
  RuleOutcome outcome;
  std::size_t quotes = 0;
  for (std::size_t begin = 0;;) {
    std::size_t end = PartEnd(condition, begin, &quotes);
    std::string_view part = condition.substr(begin, end - begin);
    if (!shared.empty() && part.find(kOptionMark) == kNotFound) {
      part_.assign(part);
      part_ += shared;
      part = part_;
    }
    PartResult result = EvaluatePart(part, &outcome.flags);
    if (result != PartResult::kHolds) {
      outcome.holds = result == PartResult::kRuleHolds;
      return outcome;
    }
    if (end == condition.size()) break;
    begin = end + 1;
  }
  outcome.holds = true;
  return outcome;
}

RuleEvaluator::PartResult RuleEvaluator::EvaluatePart(std::string_view part,
                                                      std::uint32_t* flags) {
  upper_.assign(part);
  for (char& c : upper_) c = UpperCaseChar(c);
  *flags = ParseOptions();
  bool holds;
  if (std::optional<bool> keyword = KeywordHolds(part, *flags)) {
    holds = *keyword;
  } else if (upper_.find("KILLALL") != kNotFound) {
    return PartResult::kRuleHolds;
  } else if (upper_.find("ISREPLY") != kNotFound) {
    holds = Negate(!view_.References.empty(), *flags);
  } else {
    holds = Negate(PatternHolds(part, *flags), *flags);
  }
  return holds ? PartResult::kHolds : PartResult::kFails;
}

// The option word runs from the first 0xEA to the next blank. A letter
// counts once, however often it is repeated, so "SS" is still "S".
std::uint32_t RuleEvaluator::ParseOptions() {
  names_.clear();
  std::size_t mark = upper_.find(kOptionMark);
  if (mark == kNotFound) return kDefaultOptions;
  std::string_view word = std::string_view(upper_).substr(mark + 1);
  word = word.substr(0, word.find(' '));
  std::uint32_t flags = 0;
  std::size_t group_begin = kNotFound;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '"') {
      if (group_begin == kNotFound) flags |= OptionLetterValue(word[i]);
    } else if (group_begin == kNotFound) {
      group_begin = i + 1;
    } else {
      AddHeaderNames(word.substr(group_begin, i - group_begin), &names_);
      group_begin = kNotFound;
    }
  }
  // An unclosed group runs to the end of the word.
  if (group_begin != kNotFound) AddHeaderNames(word.substr(group_begin), &names_);
  if (!(flags & kTargetOptions) && names_.empty()) flags |= kOptionS;
  if (!(flags & kModeOptions)) flags |= kOptionM;
  return flags;
}

// The keywords are looked for anywhere in the part, in this order.
std::optional<bool> RuleEvaluator::KeywordHolds(std::string_view part, std::uint32_t flags) {
  if (upper_.find('@') == kNotFound) return std::nullopt;
  if (std::size_t at = upper_.find("BYTES@"); at != kNotFound) {
    return Negate(NumberAt(at + 6) <= static_cast<double>(view_.Size), flags);
  }
  if (std::size_t at = upper_.find("DAYS@"); at != kNotFound) {
    return Negate(NumberAt(at + 5) <= static_cast<double>(AgeInDays()), flags);
  }
  // No thread store is kept, so no message belongs to a thread slot.
  if (upper_.find("THREAD@") != kNotFound) return Negate(false, flags);
  if (std::size_t at = upper_.find("TIMES@"); at != kNotFound) {
    return TimesHolds(part, at + 6, flags);
  }
  return std::nullopt;
}

// "TIMES@n,word": the word ends where an option word begins (with the blanks
// before it), so the letters that choose the searched values are not
// counted as part of the word.
bool RuleEvaluator::TimesHolds(std::string_view part, std::size_t keyword_end,
                               std::uint32_t flags) const {
  std::size_t comma = upper_.find(',', keyword_end);
  if (comma == kNotFound) return false;
  std::size_t word_end = upper_.find(kOptionMark, comma + 1);
  if (word_end == kNotFound) {
    word_end = upper_.size();
  } else {
    while (word_end > comma + 1 && upper_[word_end - 1] == ' ') --word_end;
  }
  bool case_sensitive = (flags & kOptionC) != 0;
  std::string_view source = case_sensitive ? part : std::string_view(upper_);
  std::string_view word = source.substr(comma + 1, word_end - comma - 1);
  if (!case_sensitive) word = TrimBlanks(word);
  std::size_t count = 0;
  if (flags & kOptionS) count += CountOccurrences(word, case_sensitive ? view_.Subject : subject_);
  if (flags & kOptionN) count += CountOccurrences(word, case_sensitive ? view_.From : from_);
  return Negate(static_cast<double>(count) >= NumberAt(keyword_end), flags);
}

// The pattern stands between the part's first two double quotes (after a
// single one, to the end; with none, it is the whole part).
bool RuleEvaluator::PatternHolds(std::string_view part, std::uint32_t flags) {
  bool case_sensitive = (flags & kOptionC) != 0;
  std::size_t open = part.find('"');
  std::string_view pattern = part;
  if (open != kNotFound) {
    std::size_t close = part.find('"', open + 1);
    pattern = part.substr(open + 1, close == kNotFound ? kNotFound : close - open - 1);
  }
  if (!case_sensitive) {
    pattern_.assign(pattern);
    for (char& c : pattern_) c = UpperCaseChar(c);
    pattern = pattern_;
  }
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
  for (std::string_view name : names_) {
    if (HeaderValueMatches(name, pattern, flags)) return true;
  }
  return false;
}

// Fills value_ with the value a header name stands for: an input of the
// view, the message length, or the values of all header lines of that
// name, each followed by 0xFF.
void RuleEvaluator::CollectHeaderValue(std::string_view name) {
  value_.clear();
  if (name == kLengthName) {
    value_ = std::to_string(view_.Size);
    return;
  }
  for (const NamedInput& input : kNamedInputs) {
    if (name == input.name) {
      value_ = view_.*input.member;
      return;
    }
  }
  for (const std::string& line : SearchedHeaderLines(view_)) {
    if (line.empty()) break;
    if (std::optional<std::string_view> value = HeaderValue(line, name)) {
      value_ += *value;
      value_ += '\xFF';
    }
  }
}

// A value that holds a CR is matched up to a CR of its own, unless the
// pattern leaves the rest open anyway.
bool RuleEvaluator::HeaderValueMatches(std::string_view name, std::string_view pattern,
                                       std::uint32_t flags) {
  CollectHeaderValue(name);
  if (value_.empty()) return false;
  if (!(flags & kOptionC)) {
    for (char& c : value_) c = UpperCaseChar(c);
  }
  if (value_.find('\r') == kNotFound || (!pattern.empty() && pattern.back() == '*')) {
    return MatchFoldedText(pattern, value_, flags);
  }
  std::string cr_pattern(pattern);
  cr_pattern += "\r*";
  value_ += '\r';
  return MatchFoldedText(cr_pattern, value_, flags);
}

double RuleEvaluator::NumberAt(std::size_t position) const {
  return LeadingNumber(std::string_view(upper_).substr(position)).value_or(0);
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
