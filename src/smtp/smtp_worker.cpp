#include "smtp/smtp_worker.h"

#include "config/config.h"
#include "core/run_state.h"

namespace postil {

bool SmtpAfterPopWait(RunState&, const Config& config) { return !config.SmtpAfterPop; }

void SmtpWorker(RunState& state, const Config& config) {
  if (config.SmtpServer.empty() || config.SmtpServer == "disabled" || !state.SmtpEnabled) {
    state.SmtpInfoField.Set("Disabled");
    return;
  }
}

}  // namespace postil
