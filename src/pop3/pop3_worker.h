// The POP3 worker (thread 1): collects the mail of every configured account.
#pragma once

namespace postil {

struct Config;
struct RunState;
class Pop3Stores;

void Pop3Worker(RunState& state, const Config& config, Pop3Stores& stores);

}  // namespace postil
