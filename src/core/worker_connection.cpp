#include "core/worker_connection.h"

#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"

namespace postil {
namespace {

bool IsLoopbackAddress(std::string_view address) {
  return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

}  // namespace

ConnectionTarget MakeConnectionTarget(std::string_view host, int port, int time_out_seconds,
                                      const AccountTls& tls, std::string_view ca_file) {
  ConnectionTarget target;
  target.host = host;
  target.port = port;
  target.time_out_seconds = time_out_seconds;
  target.tls = tls.mode;
  target.tls_settings.server_name = host;
  if (!ca_file.empty()) target.tls_settings.ca_file = platform::NativePath(ca_file);
  target.tls_settings.fingerprint = tls.fingerprint;
  return target;
}

WorkerConnection::WorkerConnection(ConnectionSlot& slot, std::unique_ptr<Transport> transport)
    : slot_(slot), channel_(std::move(transport)) {}

void WorkerConnection::OpenAndGreet(RunState& state, const Logger& log,
                                    const ConnectionTarget& target,
                                    const std::function<void(Channel&)>& greet) {
  std::lock_guard lock(state.StateMutex);
  target_ = target;
  channel_.OpenChannel(target.host, target.port, target.time_out_seconds);
  // Attached at once, so the kill keys can cut even the wait for the greeting.
  if (channel_.ChannelSocket() != 0) slot_.Attach(&channel_);
  log.Write(LogLevel::kTrace, "IP: " + channel_.LocalIpAddress());
  if (target.tls == TlsMode::kImplicit && channel_.ChannelSocket() != 0 && !Secure(log)) Close();
  platform::SleepMilliseconds(1);
  greet(channel_);
}

bool WorkerConnection::Secure(const Logger& log) {
  if (!channel_.SecureChannel(target_.tls_settings)) return false;
  slot_.SetSecured(true);
  const TlsSessionInfo& info = channel_.TlsInfo();
  log.Write(LogLevel::kConnection, "TLS connection: " + info.protocol + ", " + info.cipher);
  log.Write(LogLevel::kTrace, "Certificate: " + info.subject);
  log.Write(LogLevel::kTrace, "Fingerprint: " + info.fingerprint);
  return true;
}

std::string_view WorkerConnection::FailureCause() const {
  return ConnectFailureText(channel_.LastConnectError().failure);
}

std::string WorkerConnection::FailureText() const {
  const ConnectError& error = channel_.LastConnectError();
  std::string cause;
  if (error.failure != ConnectFailure::kNone) {
    cause = ConnectFailureText(error.failure);
    if (!error.detail.empty()) cause += " (" + error.detail + ")";
  } else if (channel_.PeerClosed()) {
    cause = "connection closed before the greeting";
  } else {
    const int seconds = target_.time_out_seconds;
    cause = "no greeting within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
  }
  return "Connection to " + target_.host + " port " + std::to_string(target_.port) +
         " failed: " + cause;
}

bool WorkerConnection::ExposesSecrets() const {
  return !channel_.IsSecured() && !IsLoopbackAddress(channel_.RemoteIpAddress());
}

void WorkerConnection::Close() {
  slot_.Detach();
  channel_.CloseChannel();
}

}  // namespace postil
