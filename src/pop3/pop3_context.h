// What the steps of one POP3 account work with: the run state, the
// configuration, the account's values, the stores, the connection with its
// channel, and what the session has done that counts only once its spool
// files are durable.
// Owned by the POP3 worker for the duration of one account.
#pragma once

#include "config/accounts.h"
#include "log/logger.h"

namespace postil {

class Channel;
class Pop3Stores;
struct Pop3Pending;
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
  Pop3Pending& pending;
};

}  // namespace postil
