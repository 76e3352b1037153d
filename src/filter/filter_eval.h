// Evaluating the killfile's rules against the header of a message waiting on
// the POP3 server. Pure: reads the rule table, never changes it; runs in the
// POP3 worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/rule_table.h"
#include "platform/clock.h"

namespace postil {

// The inputs of one evaluation, prepared by the message scan.
struct MessageView {
  std::string To;          // decoded, address-first form
  std::string From;        // decoded, address-first form
  std::string Subject;     // decoded
  std::string References;  // always empty from the scan
  std::string MessageId;
  const std::vector<std::string>* HeaderLines = nullptr;  // entry 1 = first header line
  long long Size = 0;      // octets, from the TOP reply
};

// Where a resumable evaluation stands; one per message, owned by the caller.
struct FilterCursor {
  int section = 1;
  int entry = 0;
  int looked_up_section = 0;
  std::string looked_up_targets;
};

struct FilterResult {
  bool matched = false;
  std::uint32_t flags = 0;  // option flags of the last condition evaluated
  std::string action;       // text after the rule's 0xAF, with its trailing blank
  std::string reason;       // on a match: condition, 0xAF, action
};

inline constexpr std::uint32_t kOptionQ = 0x4000;

// Walks the rule table from the cursor to the next rule that holds.
FilterResult EvaluateFilter(const RuleTable& rules, const MessageView& view, FilterCursor* cursor,
                            const platform::LocalTime& now);

// The calling protocol: asks for rules until none holds or one carries "Q";
// the last holding rule with a known action decides.
struct FilterVerdict {
  enum class Kind { kNone, kFetch, kSkip, kHeaderOnly, kKill, kRedirect };
  Kind kind = Kind::kNone;
  std::string recipient;  // for kRedirect
  std::string reason;     // reason text of the deciding rule
};

FilterVerdict DecideFilterVerdict(const RuleTable& rules, const MessageView& view,
                                  const platform::LocalTime& now);

}  // namespace postil
