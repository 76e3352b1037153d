#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/tcp_listener.h"
#include "platform/tcp_transport_posix.h"

namespace postil::platform {
namespace {

constexpr int kBacklog = 16;

// The socket address of the numeric `address` at `port`; never a lookup.
bool ParseListenAddress(std::string_view address, int port, sockaddr_storage* target,
                        socklen_t* size, std::string* err) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const int rc =
      ::getaddrinfo(std::string(address).c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    if (err) *err = std::string(address) + ": " + ::gai_strerror(rc);
    return false;
  }
  std::memcpy(target, found->ai_addr, found->ai_addrlen);
  *size = found->ai_addrlen;
  ::freeaddrinfo(found);
  return true;
}

int PortOf(const sockaddr_storage& address) {
  const in_port_t port = address.ss_family == AF_INET6
                             ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                             : reinterpret_cast<const sockaddr_in*>(&address)->sin_port;
  return ntohs(port);
}

}  // namespace

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(int port, std::string* err, std::string_view address) {
  Close();
  shut_down_ = false;
  sockaddr_storage local{};
  socklen_t size = 0;
  if (!ParseListenAddress(address, port, &local, &size, err)) return false;
  const int fd = ::socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (err) *err = LastErrorText();
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // "::" means IPv6 only here; an IPv4 listener is asked for by its own address.
  if (local.ss_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), size) != 0 ||
      ::listen(fd, kBacklog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    if (err) *err = LastErrorText();
    ::close(fd);
    return false;
  }
  std::lock_guard lock(mutex_);
  fd_ = fd;
  port_ = PortOf(local);
  return true;
}

std::unique_ptr<Transport> TcpListener::Accept(int time_out_ms) {
  if (fd_ < 0 || shut_down_) return nullptr;
  pollfd entry{fd_, POLLIN, 0};
  const int ready = ::poll(&entry, 1, time_out_ms);
  if (ready <= 0 || shut_down_ || (entry.revents & POLLIN) == 0) return nullptr;
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  return AdoptTcpSocket(fd);
}

void TcpListener::Shutdown() {
  shut_down_ = true;
  // Wakes a pending poll on Linux; the flag covers the rest.
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpListener::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  port_ = 0;
}

}  // namespace postil::platform
