// A worker's connection to its server: the line channel, attached to the
// worker's slot for the kill keys from the moment it is open until it is
// closed, also when the worker unwinds. Owned by one worker; the status
// screen only aborts it through the slot.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "core/channel.h"
#include "core/run_state.h"
#include "log/logger.h"
#include "platform/transport.h"

namespace postil {

class WorkerConnection {
 public:
  explicit WorkerConnection(ConnectionSlot& slot,
                            std::unique_ptr<Transport> transport = MakeTcpTransport());
  ~WorkerConnection() { Close(); }
  WorkerConnection(const WorkerConnection&) = delete;
  WorkerConnection& operator=(const WorkerConnection&) = delete;

  // Opens the channel under the state mutex, attaches it, logs the local
  // address (trace) and lets `greet` read the greeting before the mutex is
  // let go, so that a second connection attempt waits for it. An unreachable
  // server leaves the channel unconnected: `greet` then reads nothing.
  void OpenAndGreet(RunState& state, const Logger& log, std::string_view host, int port,
                    int time_out_seconds, const std::function<void(Channel&)>& greet);
  // Detaches the channel from the kill keys, then closes it. Closing a
  // closed connection does nothing.
  void Close();

  Channel& channel() { return channel_; }

 private:
  ConnectionSlot& slot_;
  Channel channel_;
};

}  // namespace postil
