#include "platform/tcp_transport_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tls_layer.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLastPort = 65535;
// More addresses than any mail server publishes; beyond it each address's
// share of the time-out would be too small to be useful.
constexpr std::size_t kMaxAddresses = 16;

// Windows keeps socket handles within 32 bits (so 32- and 64-bit processes
// can share them), which lets a socket live in the descriptor field.
SOCKET SocketOf(int fd) { return static_cast<SOCKET>(static_cast<unsigned int>(fd)); }

void SetSocketOptions(int fd) {
  const linger no_linger{0, 0};
  ::setsockopt(SocketOf(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&no_linger),
               sizeof no_linger);
  const BOOL on = TRUE;
  ::setsockopt(SocketOf(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
}

// Every wait is select(), bounded by the caller's time-out, so the socket
// never blocks on its own.
void SetNonBlocking(int fd) {
  u_long on = 1;
  ::ioctlsocket(SocketOf(fd), FIONBIO, &on);
}

// The longest single select(): how late a wait may see `stop`.
constexpr int kWaitSliceMs = 50;

int MillisecondsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// What poll() would say, from one select() of at most `time_out_ms`:
// `events` is POLLIN or POLLOUT. A failed connect shows in the exception
// set, a hang-up as readable.
int SelectFor(SOCKET socket, short events, int time_out_ms, short* revents) {
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  if (events & POLLIN) FD_SET(socket, &readable);
  if (events & POLLOUT) FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval limit{time_out_ms / 1000, (time_out_ms % 1000) * 1000};
  const int ready = ::select(0, &readable, &writable, &failed, &limit);
  *revents = 0;
  if (ready > 0) {
    if (FD_ISSET(socket, &readable)) *revents |= POLLIN;
    if (FD_ISSET(socket, &writable)) *revents |= POLLOUT;
    if (FD_ISSET(socket, &failed)) *revents |= POLLERR;
  }
  return ready;
}

short EventsFor(TlsWait wait) { return wait == TlsWait::kWritable ? POLLOUT : POLLIN; }

// Numeric text of a socket address; an IPv4 address mapped into IPv6 reads
// as plain IPv4. Empty when it cannot be shown.
std::string NumericAddress(const sockaddr_storage& address, socklen_t size) {
  if (address.ss_family == AF_INET6) {
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(&address);
    if (IN6_IS_ADDR_V4MAPPED(&ipv6->sin6_addr)) {
      char text[INET_ADDRSTRLEN];
      in_addr ipv4{};
      std::memcpy(&ipv4, &ipv6->sin6_addr.s6_addr[12], sizeof ipv4);
      return ::inet_ntop(AF_INET, &ipv4, text, sizeof text) ? text : "";
    }
  }
  char text[NI_MAXHOST];
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, text, sizeof text,
                               nullptr, 0, NI_NUMERICHOST);
  return rc == 0 ? text : "";
}

// `address` must be numeric: it is parsed, never looked up.
bool ParseNumericAddress(const std::string& address, int port, sockaddr_storage* target,
                         socklen_t* size, std::string* err) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    *err = address + ": " + Win32ErrorText(static_cast<unsigned long>(rc));
    return false;
  }
  std::memcpy(target, found->ai_addr, found->ai_addrlen);
  *size = found->ai_addrlen;
  ::freeaddrinfo(found);
  return true;
}

ConnectError SocketFailure(int error) {
  const ConnectFailure failure = error == WSAECONNREFUSED ? ConnectFailure::kRefused
                                 : error == WSAETIMEDOUT  ? ConnectFailure::kTimedOut
                                                          : ConnectFailure::kNetwork;
  // Refused and timed out say all there is; any other error names itself.
  return {failure, failure == ConnectFailure::kNetwork
                       ? Win32ErrorText(static_cast<unsigned long>(error))
                       : std::string()};
}

class TcpTransport final : public Transport, private TlsStream {
 public:
  TcpTransport(HostResolver resolver, int fd) : resolver_(std::move(resolver)), fd_(fd) {}
  ~TcpTransport() override { Close(); }
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) override;
  bool IsConnected() const override { return fd_ >= 0; }
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
  std::intptr_t Handle() const override { return fd_ >= 0 ? fd_ : 0; }
  std::string LocalAddress() const override;
  std::string RemoteAddress() const override;

 private:
  std::int64_t RawReceive(char* buffer, std::size_t size) override;
  std::int64_t RawSend(const char* data, std::size_t size) override;
  // Connects to one numeric address within `time_out_ms` (negative: no limit).
  bool TryAddress(const std::string& address, int port, int time_out_ms, ConnectError* err);
  ConnectError FinishConnect(int time_out_ms);
  bool RunHandshake(int time_out_ms, ConnectError* err);
  WaitResult Wait(short events, int time_out_ms);
  void SetDescriptor(int fd) {
    std::lock_guard lock(mutex_);
    fd_ = fd;
  }

  const HostResolver resolver_;
  // Written only by the owner, under mutex_; Shutdown() reads it under
  // mutex_, so it never acts on a number Close() has released.
  int fd_;
  std::mutex mutex_;
  // Set by Shutdown(): a shut-down socket reads as end of data, but for
  // us it is an error.
  std::atomic<bool> shut_down_{false};
  std::unique_ptr<TlsSession> tls_;  // set from the start of a handshake on
  bool secured_ = false;             // the handshake finished
  // What the next wait polls for: TLS may need to write before it can hand
  // out bytes read, or to read before it can take more.
  short receive_events_ = POLLIN;
  short send_events_ = POLLOUT;
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
  ConnectError last{ConnectFailure::kNetwork, "connection shut down"};
  for (std::size_t i = 0; i < addresses.size() && !shut_down_; ++i) {
    // An even share of the time left, so one silent address cannot use up
    // the time of those after it.
    const int share =
        time_out_ms > 0 ? std::max(1, MillisecondsLeft(deadline) / int(addresses.size() - i)) : -1;
    if (TryAddress(addresses[i], port, share, &last)) return true;
  }
  if (err) *err = last;
  return false;
}

bool TcpTransport::TryAddress(const std::string& address, int port, int time_out_ms,
                              ConnectError* err) {
  sockaddr_storage target{};
  socklen_t size = 0;
  std::string reason;
  if (!ParseNumericAddress(address, port, &target, &size, &reason)) {
    *err = {ConnectFailure::kNetwork, reason};
    return false;
  }
  const SOCKET socket = ::WSASocketW(target.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    *err = SocketFailure(::WSAGetLastError());
    return false;
  }
  const int fd = static_cast<int>(socket);
  SetSocketOptions(fd);
  SetNonBlocking(fd);
  SetDescriptor(fd);  // from here on Shutdown() can cut the attempt short
  if (shut_down_) {
    *err = {ConnectFailure::kNetwork, "connection shut down"};
    Close();
    return false;
  }
  const bool started = ::connect(socket, reinterpret_cast<const sockaddr*>(&target), size) == 0;
  const int error = started ? 0 : ::WSAGetLastError();
  *err = started                   ? ConnectError{}
         : error == WSAEWOULDBLOCK ? FinishConnect(time_out_ms)
                                   : SocketFailure(error);
  if (err->failure == ConnectFailure::kNone && !shut_down_) return true;
  if (err->failure == ConnectFailure::kNone)
    *err = {ConnectFailure::kNetwork, "connection shut down"};
  Close();
  return false;
}

ConnectError TcpTransport::FinishConnect(int time_out_ms) {
  short revents = 0;
  const int ready = WaitForSocket(fd_, POLLOUT, time_out_ms, shut_down_, &revents);
  if (ready < 0) return SocketFailure(::WSAGetLastError());
  if (shut_down_) return {ConnectFailure::kNetwork, "connection shut down"};
  if (ready == 0) return SocketFailure(WSAETIMEDOUT);
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(SocketOf(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
      0)
    return SocketFailure(::WSAGetLastError());
  // A refused connect can show in the exception set before SO_ERROR says so.
  if (error == 0 && (revents & POLLERR)) error = WSAECONNREFUSED;
  return error == 0 ? ConnectError{} : SocketFailure(error);
}

bool TcpTransport::SecureAsClient(const TlsClientSettings& settings, int time_out_ms,
                                  TlsSessionInfo* info, ConnectError* err) {
  if (fd_ < 0 || tls_ != nullptr) {
    if (err) *err = {ConnectFailure::kTlsHandshake, fd_ < 0 ? "not connected" : "already secured"};
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
  if (fd_ < 0 || tls_ != nullptr) {
    if (err) *err = fd_ < 0 ? "not connected" : "already secured";
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

// Drives the non-blocking handshake with poll(), all of it within
// `time_out_ms` (0: no limit); Shutdown() ends the wait at once.
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
    const WaitResult waited =
        Wait(EventsFor(wait), time_out_ms > 0 ? MillisecondsLeft(deadline) : -1);
    if (waited != WaitResult::kReady) {
      const char* why = waited == WaitResult::kTimeOut ? "timed out" : "connection shut down";
      if (err) *err = {ConnectFailure::kTlsHandshake, why};
      return false;
    }
  }
}

WaitResult TcpTransport::Wait(short events, int time_out_ms) {
  if (fd_ < 0 || shut_down_) return WaitResult::kError;
  short revents = 0;
  const int ready = WaitForSocket(fd_, events, time_out_ms, shut_down_, &revents);
  if (ready < 0 || shut_down_ || (revents & POLLNVAL)) return WaitResult::kError;
  // POLLERR and POLLHUP count as ready: the next call reports what happened.
  return ready == 0 ? WaitResult::kTimeOut : WaitResult::kReady;
}

WaitResult TcpTransport::WaitReadable(int time_out_ms) {
  // Bytes OpenSSL already decrypted make the socket look idle.
  if (secured_ && fd_ >= 0 && !shut_down_ && tls_->HasPending()) return WaitResult::kReady;
  return Wait(receive_events_, time_out_ms);
}

std::int64_t TcpTransport::Receive(char* buffer, std::size_t size) {
  if (fd_ < 0 || shut_down_ || (tls_ != nullptr && !secured_)) return -1;
  TlsWait wait = TlsWait::kReadable;
  const std::int64_t n = secured_ ? tls_->Read(buffer, size, &wait) : RawReceive(buffer, size);
  receive_events_ = EventsFor(wait);
  if (shut_down_) return -1;
  return n == kWouldBlock ? kReceiveAgain : n;
}

std::int64_t TcpTransport::Send(const char* data, std::size_t size) {
  if (fd_ < 0 || shut_down_ || (tls_ != nullptr && !secured_)) return -1;
  TlsWait wait = TlsWait::kWritable;
  const std::int64_t n = secured_ ? tls_->Write(data, size, &wait) : RawSend(data, size);
  send_events_ = EventsFor(wait);
  return n == kWouldBlock ? 0 : n;
}

std::int64_t TcpTransport::RawReceive(char* buffer, std::size_t size) {
  const int n =
      ::recv(SocketOf(fd_), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  if (n == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
  return n;
}

std::int64_t TcpTransport::RawSend(const char* data, std::size_t size) {
  const int n =
      ::send(SocketOf(fd_), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  if (n == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
  return n;
}

void TcpTransport::Shutdown() {
  shut_down_ = true;
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::shutdown(SocketOf(fd_), SD_BOTH);
}

void TcpTransport::Close() {
  if (tls_ != nullptr && secured_ && !shut_down_) tls_->SendCloseNotify();
  tls_.reset();
  secured_ = false;
  receive_events_ = POLLIN;
  send_events_ = POLLOUT;
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ::closesocket(SocketOf(fd_));
  fd_ = -1;
}

std::string TcpTransport::LocalAddress() const {
  constexpr const char* kNoAddress = "0.0.0.1";  // what the socket layer says for no socket
  if (fd_ < 0) return kNoAddress;
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(SocketOf(fd_), reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return kNoAddress;
  const std::string text = NumericAddress(address, size);
  return text.empty() ? kNoAddress : text;
}

std::string TcpTransport::RemoteAddress() const {
  if (fd_ < 0) return "";
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getpeername(SocketOf(fd_), reinterpret_cast<sockaddr*>(&address), &size) != 0) return "";
  return NumericAddress(address, size);
}

}  // namespace

int WaitForSocket(int fd, short events, int time_out_ms, const std::atomic<bool>& stop,
                  short* revents) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_out_ms);
  for (;;) {
    const int slice =
        time_out_ms < 0 ? kWaitSliceMs : std::min(kWaitSliceMs, MillisecondsLeft(deadline));
    const int ready = SelectFor(SocketOf(fd), events, slice, revents);
    if (ready != 0 || stop) return ready;
    if (time_out_ms >= 0 && MillisecondsLeft(deadline) == 0) return 0;
  }
}

bool StartWinsock() {
  // Once per process; Winsock stays up until the process ends.
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::unique_ptr<Transport> AdoptTcpSocket(int fd) {
  SetSocketOptions(fd);
  SetNonBlocking(fd);
  return std::make_unique<TcpTransport>(SystemResolve, fd);
}

}  // namespace postil::platform

namespace postil {

std::vector<std::string> SystemResolve(std::string_view host, std::string* err) {
  const std::string name(host);
  if (name.empty() || name.find('\0') != std::string::npos) {
    if (err) *err = "invalid host name";
    return {};
  }
  // No AI_ADDRCONFIG: it hides ::1 on a machine without a global IPv6
  // address, and a failed address only costs the next try.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  platform::StartWinsock();
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (err) *err = platform::Win32ErrorText(static_cast<unsigned long>(rc));
    return {};
  }
  std::vector<std::string> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    sockaddr_storage address{};
    std::memcpy(&address, entry->ai_addr, std::min<std::size_t>(entry->ai_addrlen, sizeof address));
    const std::string text = platform::NumericAddress(address, entry->ai_addrlen);
    if (!text.empty() && std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(text);
    }
  }
  ::freeaddrinfo(found);
  if (addresses.empty() && err) *err = "no address";
  return addresses;
}

std::unique_ptr<Transport> MakeTcpTransport(HostResolver resolver) {
  if (!resolver) resolver = SystemResolve;
  platform::StartWinsock();
  return std::make_unique<platform::TcpTransport>(std::move(resolver), -1);
}

}  // namespace postil
