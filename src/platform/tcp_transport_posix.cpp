#include "platform/tcp_transport_posix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/files.h"

namespace postil::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLastPort = 65535;

void SetSocketOptions(int fd) {
  const linger no_linger{0, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &no_linger, sizeof no_linger);
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// The first IPv4 address of `host`, port set; false with the resolver's text.
bool ResolveFirstIpv4(const std::string& host, int port, sockaddr_in* address, std::string* err) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    if (err) *err = rc == EAI_SYSTEM ? LastErrorText() : ::gai_strerror(rc);
    return false;
  }
  std::memcpy(address, found->ai_addr, sizeof *address);
  address->sin_port = htons(static_cast<std::uint16_t>(port));
  ::freeaddrinfo(found);
  return true;
}

// connect() interrupted by a signal goes on in the background; wait for it
// to finish and take its outcome.
bool FinishInterruptedConnect(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
  errno = error;
  return error == 0;
}

class TcpTransport final : public Transport {
 public:
  explicit TcpTransport(int fd = -1) : fd_(fd) {}
  ~TcpTransport() override { Close(); }
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  bool Connect(std::string_view host, int port, std::string* err) override;
  bool IsConnected() const override { return fd_ >= 0; }
  WaitResult WaitReadable(int time_out_ms) override { return Wait(POLLIN, time_out_ms); }
  WaitResult WaitWritable(int time_out_ms) override { return Wait(POLLOUT, time_out_ms); }
  std::int64_t Receive(char* buffer, std::size_t size) override;
  std::int64_t Send(const char* data, std::size_t size) override;
  void Shutdown() override;
  void Close() override;
  std::intptr_t Handle() const override { return fd_ >= 0 ? fd_ : 0; }
  std::string LocalAddress() const override;

 private:
  WaitResult Wait(short events, int time_out_ms);
  void SetDescriptor(int fd) {
    std::lock_guard lock(mutex_);
    fd_ = fd;
  }

  // Written only by the owner, under mutex_; Shutdown() reads it under
  // mutex_, so it never acts on a number Close() has released.
  int fd_;
  std::mutex mutex_;
  // Set by Shutdown(): a shut-down socket reads as end of data, but for
  // us it is an error.
  std::atomic<bool> shut_down_{false};
};

bool TcpTransport::Connect(std::string_view host, int port, std::string* err) {
  Close();
  shut_down_ = false;
  sockaddr_in address{};
  if (port < 1 || port > kLastPort) {
    if (err) *err = "port out of range";
    return false;
  }
  if (!ResolveFirstIpv4(std::string(host), port, &address, err)) return false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (err) *err = LastErrorText();
    return false;
  }
  SetSocketOptions(fd);
  bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINTR) connected = FinishInterruptedConnect(fd);
  if (!connected) {
    if (err) *err = LastErrorText();
    ::close(fd);
    return false;
  }
  SetDescriptor(fd);
  return true;
}

WaitResult TcpTransport::Wait(short events, int time_out_ms) {
  if (fd_ < 0 || shut_down_) return WaitResult::kError;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_out_ms);
  pollfd entry{fd_, events, 0};
  int ready;
  while ((ready = ::poll(&entry, 1, time_out_ms)) < 0 && errno == EINTR) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    time_out_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
  if (ready < 0 || shut_down_ || (entry.revents & POLLNVAL)) return WaitResult::kError;
  // POLLERR and POLLHUP count as ready: the next call reports what happened.
  return ready == 0 ? WaitResult::kTimeOut : WaitResult::kReady;
}

std::int64_t TcpTransport::Receive(char* buffer, std::size_t size) {
  if (fd_ < 0 || shut_down_) return -1;
  ssize_t n;
  while ((n = ::recv(fd_, buffer, size, 0)) < 0 && errno == EINTR) {
  }
  if (shut_down_) return -1;
  return n;
}

std::int64_t TcpTransport::Send(const char* data, std::size_t size) {
  if (fd_ < 0 || shut_down_) return -1;
  // Never block here: the caller waits for writability with its time-out.
  ssize_t n;
  while ((n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT)) < 0 && errno == EINTR) {
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n;
}

void TcpTransport::Shutdown() {
  shut_down_ = true;
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpTransport::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

std::string TcpTransport::LocalAddress() const {
  if (fd_ < 0) return "0.0.0.1";  // what the socket layer says for no socket
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return "0.0.0.1";
  if (address.ss_family != AF_INET) return "0.0.0.0";
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&address);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&ipv4->sin_addr.s_addr);
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

}  // namespace

std::unique_ptr<Transport> AdoptTcpSocket(int fd) {
  SetSocketOptions(fd);
  return std::make_unique<TcpTransport>(fd);
}

}  // namespace postil::platform

namespace postil {

std::unique_ptr<Transport> MakeTcpTransport() { return std::make_unique<platform::TcpTransport>(); }

}  // namespace postil
