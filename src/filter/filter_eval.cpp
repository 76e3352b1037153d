#include "filter/filter_eval.h"

namespace postil {

// Placeholder until the evaluation lands: no rule ever holds.
FilterResult EvaluateFilter(const RuleTable&, const MessageView&, FilterCursor*,
                            const platform::LocalTime&) {
  return {};
}

FilterVerdict DecideFilterVerdict(const RuleTable&, const MessageView&,
                                  const platform::LocalTime&) {
  return {};
}

}  // namespace postil
