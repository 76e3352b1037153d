// Loading the user's killfile into the rule table. Called once by the
// configuration loader in main, before any worker exists.
#pragma once

#include <string_view>

#include "filter/rule_table.h"

namespace postil {

struct RunState;

// Replaces `rules` with the killfile's sections and rules. False when there
// is no file at `path` or it cannot be read (the filter stays inactive).
bool LoadKillfile(RunState& state, std::string_view path, RuleTable* rules);

}  // namespace postil
