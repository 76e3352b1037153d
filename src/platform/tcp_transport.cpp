// The TCP transport of every system: connecting to each address in turn,
// bounded waits, TLS over the socket. The system's socket calls are behind
// socket_ops.h.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket_ops.h"
#include "platform/tls_layer.h"

namespace postil::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLastPort = 65535;
// More addresses than any mail server publishes; beyond it each address's
// share of the time-out would be too small to be useful.
constexpr std::size_t kMaxAddresses = 16;
constexpr const char* kShutDown = "connection shut down";

int MillisecondsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

unsigned EventsFor(TlsWait wait) {
  return wait == TlsWait::kWritable ? kSocketWritable : kSocketReadable;
}

class TcpTransport final : public Transport, private TlsStream {
 public:
  TcpTransport(HostResolver resolver, SocketHandle socket)
      : resolver_(std::move(resolver)), socket_(socket) {}
  ~TcpTransport() override { Close(); }
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) override;
  bool IsConnected() const override { return socket_ != kNoSocket; }
  bool SecureAsClient(const TlsClientSettings& settings, int time_out_ms, TlsSessionInfo* info,
                      ConnectError* err) override;
  bool SecureAsServer(const TlsServerSettings& settings, int time_out_ms,
                      std::string* err) override;
  bool IsSecured() const override { return secured_; }
  WaitResult WaitReadable(int time_out_ms) override;
  WaitResult WaitWritable(int time_out_ms) override { return Wait(send_events_, time_out_ms); }
  std::int64_t Receive(char* buffer, std::size_t size) override;
  std::int64_t Send(const char* data, std::size_t size) override;
  void Shutdown() override;
  void Close() override;
  std::intptr_t Handle() const override { return socket_ != kNoSocket ? socket_ : 0; }
  std::string LocalAddress() const override;
  std::string RemoteAddress() const override;

 private:
  std::int64_t RawReceive(char* buffer, std::size_t size) override {
    return ReceiveSome(socket_, buffer, size);
  }
  std::int64_t RawSend(const char* data, std::size_t size) override {
    return SendSome(socket_, data, size);
  }
  // Connects to one numeric address within `time_out_ms`.
  bool TryAddress(const std::string& address, int port, int time_out_ms, ConnectError* err);
  ConnectError FinishConnect(int time_out_ms);
  bool RunHandshake(int time_out_ms, ConnectError* err);
  WaitResult Wait(unsigned events, int time_out_ms);
  void SetSocket(SocketHandle socket) {
    std::lock_guard lock(mutex_);
    socket_ = socket;
  }

  const HostResolver resolver_;
  // Written only by the owner, under mutex_; Shutdown() reads it under
  // mutex_, so it never acts on a handle Close() has released.
  SocketHandle socket_;
  std::mutex mutex_;
  // Set by Shutdown(): a shut-down socket reads as end of data, but for
  // us it is an error.
  std::atomic<bool> shut_down_{false};
  std::unique_ptr<TlsSession> tls_;  // set from the start of a handshake on
  bool secured_ = false;             // the handshake finished
  // What the next wait is for: TLS may need to write before it can hand
  // out bytes read, or to read before it can take more.
  unsigned receive_events_ = kSocketReadable;
  unsigned send_events_ = kSocketWritable;
};

bool TcpTransport::Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) {
  Close();
  shut_down_ = false;
  if (port < 1 || port > kLastPort) {
    if (err) *err = {ConnectFailure::kNetwork, "port out of range"};
    return false;
  }
  std::string reason;
  std::vector<std::string> addresses = resolver_(host, &reason);
  if (addresses.empty()) {
    if (err) *err = {ConnectFailure::kNameNotResolved, reason.empty() ? "no address" : reason};
    return false;
  }
  if (addresses.size() > kMaxAddresses) addresses.resize(kMaxAddresses);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_out_ms);
  ConnectError last{ConnectFailure::kNetwork, kShutDown};
  for (std::size_t i = 0; i < addresses.size() && !shut_down_; ++i) {
    // An even share of the time left, so one silent address cannot use up
    // the time of those after it.
    const int share = std::max(1, MillisecondsLeft(deadline) / int(addresses.size() - i));
    if (TryAddress(addresses[i], port, share, &last)) return true;
  }
  if (err) *err = last;
  return false;
}

bool TcpTransport::TryAddress(const std::string& address, int port, int time_out_ms,
                              ConnectError* err) {
  SocketEndpoint target;
  std::string reason;
  if (!ParseEndpoint(address, port, &target, &reason)) {
    *err = {ConnectFailure::kNetwork, reason};
    return false;
  }
  int error = 0;
  const SocketHandle socket = OpenStreamSocket(target, &error);
  if (socket == kNoSocket) {
    *err = SocketFailure(error);
    return false;
  }
  SetSocket(socket);  // from here on Shutdown() can cut the attempt short
  if (shut_down_) {
    *err = {ConnectFailure::kNetwork, kShutDown};
    Close();
    return false;
  }
  error = StartConnect(socket, target);
  *err = error == 0                 ? ConnectError{}
         : error == kConnectPending ? FinishConnect(time_out_ms)
                                    : SocketFailure(error);
  if (err->failure == ConnectFailure::kNone && !shut_down_) return true;
  if (err->failure == ConnectFailure::kNone) *err = {ConnectFailure::kNetwork, kShutDown};
  Close();
  return false;
}

ConnectError TcpTransport::FinishConnect(int time_out_ms) {
  unsigned found = 0;
  const int ready = WaitSocket(socket_, kSocketWritable, time_out_ms, shut_down_, &found);
  if (ready < 0) return SocketFailure(LastSocketError());
  if (shut_down_) return {ConnectFailure::kNetwork, kShutDown};
  if (ready == 0) return SocketFailure(TimedOutError());
  const int error = ConnectOutcome(socket_, found);
  return error == 0 ? ConnectError{} : SocketFailure(error);
}

bool TcpTransport::SecureAsClient(const TlsClientSettings& settings, int time_out_ms,
                                  TlsSessionInfo* info, ConnectError* err) {
  if (socket_ == kNoSocket || tls_ != nullptr) {
    const char* why = socket_ == kNoSocket ? "not connected" : "already secured";
    if (err) *err = {ConnectFailure::kTlsHandshake, why};
    return false;
  }
  tls_ = StartTlsClient(this, settings, err);
  if (tls_ == nullptr || !RunHandshake(time_out_ms, err)) return false;
  secured_ = true;
  if (info) *info = tls_->Info();
  return true;
}

bool TcpTransport::SecureAsServer(const TlsServerSettings& settings, int time_out_ms,
                                  std::string* err) {
  if (socket_ == kNoSocket || tls_ != nullptr) {
    if (err) *err = socket_ == kNoSocket ? "not connected" : "already secured";
    return false;
  }
  tls_ = StartTlsServer(this, settings, err);
  if (tls_ == nullptr) return false;
  ConnectError failure;
  if (!RunHandshake(time_out_ms, &failure)) {
    if (err) *err = failure.detail;
    return false;
  }
  secured_ = true;
  return true;
}

// Drives the non-blocking handshake, all of it within `time_out_ms`: a
// server that never answers must not hold the connection, nor the state
// mutex it is opened under. Shutdown() ends the wait at once.
bool TcpTransport::RunHandshake(int time_out_ms, ConnectError* err) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_out_ms);
  for (;;) {
    TlsWait wait = TlsWait::kNone;
    ConnectError failure;
    if (tls_->Handshake(&wait, &failure)) return true;
    if (wait == TlsWait::kNone) {
      if (err) *err = failure;
      return false;
    }
    const WaitResult waited = Wait(EventsFor(wait), MillisecondsLeft(deadline));
    if (waited != WaitResult::kReady) {
      const char* why = waited == WaitResult::kTimeOut ? "timed out" : kShutDown;
      if (err) *err = {ConnectFailure::kTlsHandshake, why};
      return false;
    }
  }
}

WaitResult TcpTransport::Wait(unsigned events, int time_out_ms) {
  if (socket_ == kNoSocket || shut_down_) return WaitResult::kError;
  unsigned found = 0;
  const int ready = WaitSocket(socket_, events, time_out_ms, shut_down_, &found);
  if (ready < 0 || shut_down_) return WaitResult::kError;
  // A failed connection counts as ready: the next call reports what happened.
  return ready == 0 ? WaitResult::kTimeOut : WaitResult::kReady;
}

WaitResult TcpTransport::WaitReadable(int time_out_ms) {
  // Bytes the TLS library already decrypted make the socket look idle.
  if (secured_ && socket_ != kNoSocket && !shut_down_ && tls_->HasPending()) {
    return WaitResult::kReady;
  }
  return Wait(receive_events_, time_out_ms);
}

std::int64_t TcpTransport::Receive(char* buffer, std::size_t size) {
  if (socket_ == kNoSocket || shut_down_ || (tls_ != nullptr && !secured_)) return -1;
  TlsWait wait = TlsWait::kReadable;
  const std::int64_t n = secured_ ? tls_->Read(buffer, size, &wait) : RawReceive(buffer, size);
  receive_events_ = EventsFor(wait);
  if (shut_down_) return -1;
  return n == kWouldBlock ? kReceiveAgain : n;
}

std::int64_t TcpTransport::Send(const char* data, std::size_t size) {
  if (socket_ == kNoSocket || shut_down_ || (tls_ != nullptr && !secured_)) return -1;
  TlsWait wait = TlsWait::kWritable;
  const std::int64_t n = secured_ ? tls_->Write(data, size, &wait) : RawSend(data, size);
  send_events_ = EventsFor(wait);
  return n == kWouldBlock ? 0 : n;
}

void TcpTransport::Shutdown() {
  shut_down_ = true;
  std::lock_guard lock(mutex_);
  if (socket_ != kNoSocket) ShutdownSocket(socket_);
}

void TcpTransport::Close() {
  if (tls_ != nullptr && secured_ && !shut_down_) tls_->SendCloseNotify();
  tls_.reset();
  secured_ = false;
  receive_events_ = kSocketReadable;
  send_events_ = kSocketWritable;
  std::lock_guard lock(mutex_);
  if (socket_ == kNoSocket) return;
  CloseSocket(socket_);
  socket_ = kNoSocket;
}

std::string TcpTransport::LocalAddress() const {
  constexpr const char* kNoAddress = "0.0.0.1";  // what the socket layer says for no socket
  const std::string text = socket_ != kNoSocket ? LocalAddressOf(socket_) : "";
  return text.empty() ? kNoAddress : text;
}

std::string TcpTransport::RemoteAddress() const {
  return socket_ != kNoSocket ? PeerAddressOf(socket_) : "";
}

}  // namespace

std::unique_ptr<Transport> AdoptTcpSocket(SocketHandle socket) {
  return std::make_unique<TcpTransport>(SystemResolve, socket);
}

}  // namespace postil::platform

namespace postil {

std::vector<std::string> SystemResolve(std::string_view host, std::string* err) {
  const std::string name(host);
  if (name.empty() || name.find('\0') != std::string::npos) {
    if (err) *err = "invalid host name";
    return {};
  }
  std::vector<platform::SocketEndpoint> found;
  std::string reason;
  if (!platform::ResolveEndpoints(name, &found, &reason)) {
    if (err) *err = reason;
    return {};
  }
  std::vector<std::string> addresses;
  for (const platform::SocketEndpoint& endpoint : found) {
    const std::string text = platform::EndpointText(endpoint);
    if (!text.empty() && std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(text);
    }
  }
  if (addresses.empty() && err) *err = "no address";
  return addresses;
}

std::unique_ptr<Transport> MakeTcpTransport(HostResolver resolver) {
  if (!resolver) resolver = SystemResolve;
  return std::make_unique<platform::TcpTransport>(std::move(resolver), platform::kNoSocket);
}

}  // namespace postil
