// A worker's connection to its server: the line channel, attached to the
// worker's slot for the kill keys from the moment it is open until it is
// closed, also when the worker unwinds; secured with TLS when the account
// asks for it. Owned by one worker; the status screen only aborts it (and
// reads whether it is secured) through the slot.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/account_tls.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "log/logger.h"
#include "platform/transport.h"

namespace postil {

// Where a worker connects to, and how the connection is secured.
struct ConnectionTarget {
  std::string host;
  int port = 0;
  int time_out_seconds = 0;
  TlsMode tls = TlsMode::kOff;
  TlsClientSettings tls_settings;  // used unless tls is kOff
};

// The target of an account: `ca_file` is the TlsCaFile setting (a host
// path; empty: the system's store).
ConnectionTarget MakeConnectionTarget(std::string_view host, int port, int time_out_seconds,
                                      const AccountTls& tls, std::string_view ca_file);

class WorkerConnection {
 public:
  explicit WorkerConnection(ConnectionSlot& slot,
                            std::unique_ptr<Transport> transport = MakeTcpTransport());
  ~WorkerConnection() { Close(); }
  WorkerConnection(const WorkerConnection&) = delete;
  WorkerConnection& operator=(const WorkerConnection&) = delete;

  // Opens the channel under the state mutex, attaches it, logs the local
  // address (trace), secures it when the target asks for TLS from the first
  // byte, and lets `greet` read the greeting before the mutex is let go, so
  // that a second connection attempt waits for it. An unreachable server, or
  // one that fails the TLS checks, leaves the channel unconnected: `greet`
  // then reads nothing, and FailureText() says why.
  void OpenAndGreet(RunState& state, const Logger& log, const ConnectionTarget& target,
                    const std::function<void(Channel&)>& greet);
  // Secures the open channel with the target's TLS settings (after the
  // protocol's STARTTLS); logs what was agreed. False: FailureText() says
  // why, and the caller closes.
  bool Secure(const Logger& log);
  // Why the connection could not be made or secured, or why no greeting
  // came: one log line naming the server.
  std::string FailureText() const;
  // What a user reads on the panel for the failure to secure.
  std::string_view FailureCause() const;
  // Secrets sent now would cross the network unprotected: the channel is
  // not secured and the server is not on this machine.
  bool ExposesSecrets() const;
  // Detaches the channel from the kill keys, then closes it. Closing a
  // closed connection does nothing.
  void Close();

  Channel& channel() { return channel_; }

 private:
  ConnectionSlot& slot_;
  Channel channel_;
  ConnectionTarget target_;
};

}  // namespace postil
