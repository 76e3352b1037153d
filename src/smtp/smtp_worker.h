// The SMTP worker (thread 2): serves every configured SMTP server that has
// work in its spool directory. And the SMTP-after-POP wait that main runs
// before starting it.
#pragma once

#include "smtp/spool_remainder.h"

namespace postil {

struct Config;
struct RunState;

// Run by main: true when the SMTP worker may start. With SmtpAfterPop on it
// waits for the POP3 login; a time-out or a POP3 error sets SmtpErrorFlag
// and gives false.
bool SmtpAfterPopWait(RunState& state, const Config& config);

// `rewriter` cuts the messages done from a batched file of several.
void SmtpWorker(RunState& state, const Config& config,
                SpoolRewriter& rewriter = DiskSpoolRewriter());

}  // namespace postil
