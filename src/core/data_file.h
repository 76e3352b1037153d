// Opening a data file for reading under the state mutex, so that the two
// workers never open files at the same moment. Any thread.
#pragma once

#include <string_view>

#include "log/logger.h"
#include "platform/files.h"

namespace postil {

struct RunState;

// Opens `name` into `file` while holding the state mutex. On failure logs
// "Error Opening " + name on `log` (kFailure) and returns false.
bool OpenDataFile(RunState& state, platform::InputFile* file, std::string_view name, Logger log);

}  // namespace postil
