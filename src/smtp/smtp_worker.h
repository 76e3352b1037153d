// The SMTP worker (thread 2) and the SMTP-after-POP wait that main runs
// before starting it.
#pragma once

namespace postil {

struct Config;
struct RunState;

// Run by main: true when the SMTP worker may start.
bool SmtpAfterPopWait(RunState& state, const Config& config);

void SmtpWorker(RunState& state, const Config& config);

}  // namespace postil
