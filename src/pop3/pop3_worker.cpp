#include "pop3/pop3_worker.h"

#include "config/config.h"
#include "core/run_state.h"

namespace postil {

void Pop3Worker(RunState& state, const Config& config, Pop3Stores&) {
  if (config.Pop3Server.empty() || config.Pop3Server == "disabled" || !state.Pop3Enabled) {
    state.Pop3InfoField.Set("Disabled");
    return;
  }
}

}  // namespace postil
