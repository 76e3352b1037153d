// Operator notices: mails of POSTIL's own written into the inbound spool
// after a run with errors. Called by main at the very end.
#pragma once

namespace postil {

struct Config;
struct RunState;

void WriteOutdatedHostNotice(RunState& state, const Config& config);
void WriteConfigurationNotice(RunState& state, const Config& config);

}  // namespace postil
