#include "core/data_file.h"

#include <mutex>
#include <string>

#include "core/run_state.h"

namespace postil {

bool OpenDataFile(RunState& state, platform::InputFile* file, std::string_view name, Logger log) {
  bool opened;
  {
    std::lock_guard lock(state.StateMutex);
    opened = file->Open(name, nullptr);
  }
  if (!opened) log.Write(LogLevel::kFailure, "Error Opening " + std::string(name));
  return opened;
}

}  // namespace postil
