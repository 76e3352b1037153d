// Loading what the configuration file asks for: its settings, the killfile
// it names and the host release. Called once by the run control before any
// worker starts (and by the configuration check); the results are read-only
// afterwards.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "config/config_check.h"
#include "filter/rule_table.h"

namespace postil {

struct RunState;

enum class KillfileLoad { kNotNamed, kLoaded, kFailed };

// What loading found besides the settings; every problem has been logged.
struct ConfigurationLoad {
  bool opened = false;
  std::vector<std::string> notes;  // numbers out of range, TLS words not understood
  ConfigReview review;
  KillfileLoad killfile = KillfileLoad::kNotNamed;
};

// Fills `config` from the file (module style with "$" keys, or a host box
// file ending in .BFG with bare keys), loads the killfile into `rules` and
// detects the host release. Blanks the four status fields and clears both
// error flags. A file that cannot be opened leaves every setting empty
// (logged). The notes and the review's problems are logged at level 1.
ConfigurationLoad LoadConfiguration(RunState& state, std::string_view file_name, Config* config,
                                    RuleTable* rules);

}  // namespace postil
