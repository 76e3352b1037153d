// What the steps of one POP3 account work with: the run state, the
// configuration, the account's values, the stores and the connection with
// its channel.
// Owned by the POP3 worker for the duration of one account.
#pragma once

#include "config/accounts.h"
#include "log/logger.h"

namespace postil {

class Channel;
class Pop3Stores;
class WorkerConnection;
struct Config;
struct RuleTable;
struct RunState;

struct Pop3Context {
  RunState& state;
  const Config& config;
  const RuleTable& rules;  // the killfile's, when config.FilterActive
  const Pop3Account& account;
  Pop3Stores& stores;
  WorkerConnection& connection;
  Channel& channel;  // the connection's
  const Logger log;  // the POP3 worker's
};

}  // namespace postil
