#include "filter/filter_eval.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "filter/match_pattern.h"
#include "filter/option_flags.h"
#include "filter/rule_line.h"
#include "text/cp437_case.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr std::string_view kExclusionWord = "ALLE";
constexpr std::string_view kRedirectMark = "ENVELOPE-TO:";

constexpr std::array<std::pair<std::string_view, FilterVerdict::Kind>, 4> kActionVerdicts = {{
    {"RETR", FilterVerdict::Kind::kFetch},
    {"SKIP", FilterVerdict::Kind::kSkip},
    {"HEAD", FilterVerdict::Kind::kHeaderOnly},
    {"DELE", FilterVerdict::Kind::kKill},
}};

const KillSection* SectionAt(const RuleTable& rules, int number) {
  if (number < 1 || static_cast<std::size_t>(number) > rules.sections.size()) return nullptr;
  return &rules.sections[number - 1];
}

// The section applies when a word of its target list matches To exactly in
// case (the list was upper-cased when loaded), or, after "ALLE", when none
// does.
bool TargetsApply(std::string_view targets, std::string_view to) {
  bool exclusion = false;
  while (!targets.empty()) {
    std::size_t blank = targets.find(' ');
    std::string_view word = targets.substr(0, blank);
    targets.remove_prefix(blank == std::string_view::npos ? targets.size() : blank + 1);
    if (word.empty()) continue;
    if (word == kExclusionWord) {
      exclusion = true;
    } else if (MatchFoldedText(word, to, kOptionC)) {
      return !exclusion;
    }
  }
  return exclusion;
}

// The verdict a holding rule's action names, or nothing for an unknown one.
// A redirection without a recipient names none: it would leave the spool
// file without an envelope recipient.
void ApplyAction(const FilterResult& result, FilterVerdict* verdict) {
  std::string_view action = TrimBlanks(result.action);
  for (auto [word, kind] : kActionVerdicts) {
    if (action == word) {
      *verdict = {kind, "", result.reason};
      return;
    }
  }
  if (UpperCase(result.reason).find(kRedirectMark) == std::string::npos) return;
  std::string_view recipient =
      TrimBlanks(action.substr(std::min(action.size(), kRedirectMark.size())));
  if (!recipient.empty()) *verdict = {FilterVerdict::Kind::kRedirect, std::string(recipient),
                                      result.reason};
}

// Tries the rules of an applying section after the cursor's entry. At a
// holding rule fills `result` and leaves the cursor on it.
bool FindHoldingRule(const KillSection& section, RuleEvaluator* evaluator, FilterCursor* cursor,
                     FilterResult* result, std::string_view* last_action) {
  // A section built without parsed rules has them parsed as they are tried.
  const bool parsed = section.parsed.size() == section.rules.size();
  ParsedRule unparsed;
  for (;;) {
    std::size_t index = static_cast<std::size_t>(++cursor->entry) - 2;
    if (index >= section.rules.size() || section.rules[index].empty()) return false;
    RuleLineParts line = SplitRuleLine(section.rules[index]);
    *last_action = line.action;
    RuleOutcome outcome = evaluator->Evaluate(
        parsed ? section.parsed[index] : (unparsed = ParseRuleCondition(line.condition)));
    result->flags = outcome.flags;
    if (outcome.holds) {
      result->matched = true;
      result->reason.reserve(line.condition.size() + 1 + line.action.size());
      result->reason.append(line.condition).append(1, kActionMark).append(line.action);
      return true;
    }
  }
}

}  // namespace

FilterResult EvaluateFilter(const RuleTable& rules, const MessageView& view, FilterCursor* cursor,
                            const platform::LocalTime& now) {
  FilterResult result;
  RuleEvaluator evaluator(view, now);
  std::string_view last_action;
  for (;; ++cursor->section) {
    const KillSection* section = SectionAt(rules, cursor->section);
    if (cursor->section != cursor->looked_up_section) {
      cursor->entry = 1;
      cursor->looked_up_section = cursor->section;
      cursor->looked_up_targets = section != nullptr ? section->targets : std::string();
    }
    // An empty target list, also one of a "---" line alone, ends the walk.
    if (cursor->looked_up_targets.empty() || section == nullptr) break;
    // Past entry 1 the walk resumes inside a section that already applied.
    if (cursor->entry > 1 || TargetsApply(cursor->looked_up_targets, view.To)) {
      if (FindHoldingRule(*section, &evaluator, cursor, &result, &last_action)) {
        result.action = last_action;
        return result;
      }
    }
  }
  result.action = last_action;
  cursor->section = 1;
  cursor->entry = 1;
  return result;
}

FilterVerdict DecideFilterVerdict(const RuleTable& rules, const MessageView& view,
                                  const platform::LocalTime& now) {
  FilterVerdict verdict;
  FilterCursor cursor;
  for (;;) {
    FilterResult result = EvaluateFilter(rules, view, &cursor, now);
    if (!result.matched) break;
    ApplyAction(result, &verdict);
    if (result.flags & kOptionQ) break;
  }
  return verdict;
}

}  // namespace postil
