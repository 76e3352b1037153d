// One run of POSTIL from its command line to its exit code: start-up, the
// threads, shut-down. Main thread only.
#pragma once

#include <ostream>
#include <string_view>

#include "platform/clock.h"

namespace postil {

// `command_tail` is the command line after the program name; console
// messages go to `out`. Returns the process exit code (0 to 3).
int RunPostil(std::string_view command_tail, std::ostream& out, const platform::Clock& clock);

// 0, plus 1 for a POP3 error, plus 2 for an SMTP error.
int ExitCode(bool pop3_error, bool smtp_error);

}  // namespace postil
