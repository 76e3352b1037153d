// Loading the user's killfile into the rule table. Called once by the
// configuration loader in main, before any worker exists.
#pragma once

#include <cstddef>
#include <string_view>

#include "filter/rule_table.h"

namespace postil {

struct RunState;

// A longer killfile line makes the load fail: no user writes one, and
// cutting it could drop a condition and widen what a rule kills.
inline constexpr std::size_t kMaxKillfileLine = 1 << 20;
// The rules are held in memory whole; a larger file is refused.
inline constexpr std::size_t kMaxKillfileBytes = std::size_t{64} << 20;

// Replaces `rules` with the killfile's sections and rules. False when there
// is no file at `path` or it cannot be read (the filter stays inactive; an
// open or read failure, a too long line or a too large file is logged).
// `rules` is empty after a failure.
bool LoadKillfile(RunState& state, std::string_view path, RuleTable* rules);

// The reading pass for one line as read (without its line end): a section
// line starts a section, a rule line after the first section line is added
// to the last section, everything else is dropped.
void AddKillfileLine(std::string_view line, RuleTable* rules);

}  // namespace postil
