// The POP3 worker (thread 1): collects the mail of every configured account.
#pragma once

#include "platform/files.h"

namespace postil {

struct Config;
struct RunState;
struct RuleTable;
class Pop3Stores;

// `rules` are the killfile's, used when config.FilterActive. `disk` makes
// each session's spool files durable before its QUIT.
void Pop3Worker(RunState& state, const Config& config, const RuleTable& rules, Pop3Stores& stores,
                platform::DiskSync& disk = platform::SystemDiskSync());

}  // namespace postil
