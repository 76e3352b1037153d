#include "core/data_file.h"

#include <mutex>
#include <string>

#include "core/run_state.h"

namespace postil {

bool OpenDataFile(RunState& state, platform::InputFile* file, std::string_view name, int thread) {
  bool opened;
  {
    std::lock_guard lock(state.StateMutex);
    opened = file->Open(name, nullptr);
  }
  if (!opened) state.log.WriteLog("Error Opening " + std::string(name), thread, 2);
  return opened;
}

}  // namespace postil
