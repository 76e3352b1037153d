#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/tcp_listener.h"
#include "platform/tcp_transport_win32.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

constexpr int kBacklog = 16;

// Socket handle values stay within 32 bits on Windows (see the transport).
SOCKET SocketOf(int fd) { return static_cast<SOCKET>(static_cast<unsigned int>(fd)); }

std::string WinsockErrorText() {
  return Win32ErrorText(static_cast<unsigned long>(::WSAGetLastError()));
}

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
    if (err) *err = std::string(address) + ": " + Win32ErrorText(static_cast<unsigned long>(rc));
    return false;
  }
  std::memcpy(target, found->ai_addr, found->ai_addrlen);
  *size = static_cast<socklen_t>(found->ai_addrlen);
  ::freeaddrinfo(found);
  return true;
}

int PortOf(const sockaddr_storage& address) {
  const u_short port = address.ss_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                           : reinterpret_cast<const sockaddr_in*>(&address)->sin_port;
  return ntohs(port);
}

}  // namespace

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(int port, std::string* err, std::string_view address) {
  Close();
  shut_down_ = false;
  if (!StartWinsock()) {
    if (err) *err = WinsockErrorText();
    return false;
  }
  sockaddr_storage local{};
  socklen_t size = 0;
  if (!ParseListenAddress(address, port, &local, &size, err)) return false;
  const SOCKET socket = ::WSASocketW(local.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    if (err) *err = WinsockErrorText();
    return false;
  }
  // Exclusive: on Windows SO_REUSEADDR would let another socket take the port.
  const BOOL on = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  // "::" means IPv6 only here; an IPv4 listener is asked for by its own address.
  if (local.ss_family == AF_INET6)
    ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), size) != 0 ||
      ::listen(socket, kBacklog) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    if (err) *err = WinsockErrorText();
    ::closesocket(socket);
    return false;
  }
  std::lock_guard lock(mutex_);
  fd_ = static_cast<int>(socket);
  port_ = PortOf(local);
  return true;
}

std::unique_ptr<Transport> TcpListener::Accept(int time_out_ms) {
  if (fd_ < 0 || shut_down_) return nullptr;
  short revents = 0;
  const int ready = WaitForSocket(fd_, POLLIN, time_out_ms, shut_down_, &revents);
  if (ready <= 0 || shut_down_) return nullptr;
  const SOCKET socket = ::accept(SocketOf(fd_), nullptr, nullptr);
  if (socket == INVALID_SOCKET) return nullptr;
  return AdoptTcpSocket(static_cast<int>(socket));
}

void TcpListener::Shutdown() {
  shut_down_ = true;
  // A listening socket has no connection to shut down; the flag ends a
  // pending wait at its next slice.
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::shutdown(SocketOf(fd_), SD_BOTH);
}

void TcpListener::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ::closesocket(SocketOf(fd_));
  fd_ = -1;
  port_ = 0;
}

}  // namespace postil::platform
