// Everything a POP3 step works with, for the tests and fuzz targets that
// drive the steps in this process: the stores, the connection over a given
// transport, the session's pending work and the context that joins them.
// One thread.
#pragma once

#include <memory>

#include "config/accounts.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "platform/files.h"
#include "platform/transport.h"
#include "pop3/pop3_context.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_stores.h"

namespace postil::test {

struct Pop3Parts {
  Pop3Parts(RunState& state, const Config& config, const RuleTable& rules,
            const Pop3Account& account, std::unique_ptr<Transport> transport = MakeTcpTransport())
      : connection(state.Pop3Socket, std::move(transport)),
        pending(state, account, platform::SystemDiskSync(), state.log.For(LogThread::kPop3), 0),
        context{state,      config, rules, account, stores, connection, connection.channel(),
                state.log.For(LogThread::kPop3), pending} {}

  Pop3Stores stores;
  WorkerConnection connection;
  Pop3Pending pending;
  Pop3Context context;
};

}  // namespace postil::test
