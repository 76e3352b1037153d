// Evaluating the killfile's rules against the header of a message waiting on
// the POP3 server. Pure: reads the rule table, never changes it; runs in the
// POP3 worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/option_flags.h"
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
  // The scan's HeaderLineTable: index k holds entry k, so index 1 is the
  // first header line and index 0 is unused. Entries 1 to 128 are read.
  const std::vector<std::string>* HeaderLines = nullptr;
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

// Walks the rule table from the cursor to the next rule that holds and
// leaves the cursor on it; without one, `matched` is false and the cursor
// is back at section 1, entry 1.
FilterResult EvaluateFilter(const RuleTable& rules, const MessageView& view, FilterCursor* cursor,
                            const platform::LocalTime& now);

// The calling protocol: asks for rules until none holds or one carries "Q";
// the last holding rule with a known action decides. kNone when no rule
// decides. A run-time failure is left to the caller's step.
struct FilterVerdict {
  enum class Kind { kNone, kFetch, kSkip, kHeaderOnly, kKill, kRedirect };
  Kind kind = Kind::kNone;
  std::string recipient;  // for kRedirect
  std::string reason;     // reason text of the deciding rule
};

FilterVerdict DecideFilterVerdict(const RuleTable& rules, const MessageView& view,
                                  const platform::LocalTime& now);

}  // namespace postil
