// Reading the configuration file named on the command line into the
// configuration record. Called once by main before any worker starts.
#pragma once

#include <string_view>

#include "config/config.h"

namespace postil {

struct RunState;

// Fills `config` from the file (module style with "$" keys, or a host box
// file ending in .BFG with bare keys), loads the killfile and detects the
// host release. Blanks the four status fields and clears both error flags.
// A file that cannot be opened leaves every setting empty (logged).
void LoadConfiguration(RunState& state, std::string_view file_name, Config* config);

}  // namespace postil
