#include "platform/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/tcp_transport_posix.h"

namespace postil::platform {
namespace {

constexpr int kBacklog = 16;

}  // namespace

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(int port, std::string* err) {
  Close();
  shut_down_ = false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (err) *err = LastErrorText();
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, kBacklog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (err) *err = LastErrorText();
    ::close(fd);
    return false;
  }
  std::lock_guard lock(mutex_);
  fd_ = fd;
  port_ = ntohs(address.sin_port);
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
