// postil --check: loads a configuration file as a run would and says what a
// run would do with it, without contacting a server or writing a file. Main
// thread only.
#pragma once

#include <ostream>
#include <string_view>

#include "platform/clock.h"

namespace postil {

// Prints the key style and why, every account with its effective settings
// (passwords as "***"), the global settings, the killfile, the host files
// and every problem found. Returns 0 when at least one POP3 account or SMTP
// server would be served and no problem was found, 1 otherwise.
int RunConfigurationCheck(std::string_view file_name, std::ostream& out,
                          const platform::Clock& clock);

}  // namespace postil
