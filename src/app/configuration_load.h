// Loading what the configuration file asks for: its settings, the killfile
// it names and the host release. Called once by the run control before any
// worker starts; the results are read-only afterwards.
#pragma once

#include <string_view>

#include "config/config.h"
#include "filter/rule_table.h"

namespace postil {

struct RunState;

// Fills `config` from the file (module style with "$" keys, or a host box
// file ending in .BFG with bare keys), loads the killfile into `rules` and
// detects the host release. Blanks the four status fields and clears both
// error flags. A file that cannot be opened leaves every setting empty
// (logged).
void LoadConfiguration(RunState& state, std::string_view file_name, Config* config,
                       RuleTable* rules);

}  // namespace postil
