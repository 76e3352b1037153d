#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/files.h"
#include "platform/socket_ops.h"
#include "platform/tls_layer.h"

namespace postil::platform {
namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(SocketEndpoint::storage));

constexpr int kBacklog = 16;

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

const sockaddr* AddressOf(const SocketEndpoint& endpoint) {
  return reinterpret_cast<const sockaddr*>(endpoint.storage.data());
}

int FamilyOf(const SocketEndpoint& endpoint) { return AddressOf(endpoint)->sa_family; }

void SetTransportOptions(int fd) {
  const linger no_linger{0, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &no_linger, sizeof no_linger);
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::string ResolverError(int rc) { return rc == EAI_SYSTEM ? LastErrorText() : ::gai_strerror(rc); }

void CopyEndpoint(const addrinfo& entry, SocketEndpoint* endpoint) {
  const std::size_t size = std::min<std::size_t>(entry.ai_addrlen, endpoint->storage.size());
  std::memcpy(endpoint->storage.data(), entry.ai_addr, size);
  endpoint->size = static_cast<int>(size);
}

// Which address of a socket: its own or its peer's.
using NameCall = int (*)(int, sockaddr*, socklen_t*);

std::string AddressText(SocketHandle socket, NameCall call) {
  SocketEndpoint endpoint;
  auto size = static_cast<socklen_t>(endpoint.storage.size());
  if (call(Fd(socket), reinterpret_cast<sockaddr*>(endpoint.storage.data()), &size) != 0) return "";
  endpoint.size = static_cast<int>(size);
  return EndpointText(endpoint);
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool ParseEndpoint(const std::string& address, int port, SocketEndpoint* endpoint,
                   std::string* err) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    *err = address + ": " + ResolverError(rc);
    return false;
  }
  CopyEndpoint(*found, endpoint);
  ::freeaddrinfo(found);
  return true;
}

bool ResolveEndpoints(const std::string& name, std::vector<SocketEndpoint>* found,
                      std::string* err) {
  // No AI_ADDRCONFIG: it hides ::1 on a machine without a global IPv6
  // address, and a failed address only costs the next try.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    *err = ResolverError(rc);
    return false;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    CopyEndpoint(*entry, &found->emplace_back());
  }
  ::freeaddrinfo(list);
  return true;
}

std::string EndpointText(const SocketEndpoint& endpoint) {
  if (FamilyOf(endpoint) == AF_INET6) {
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(AddressOf(endpoint));
    if (IN6_IS_ADDR_V4MAPPED(&ipv6->sin6_addr)) {
      char text[INET_ADDRSTRLEN];
      return ::inet_ntop(AF_INET, &ipv6->sin6_addr.s6_addr[12], text, sizeof text) ? text : "";
    }
  }
  char text[NI_MAXHOST];
  const int rc = ::getnameinfo(AddressOf(endpoint), static_cast<socklen_t>(endpoint.size), text,
                               sizeof text, nullptr, 0, NI_NUMERICHOST);
  return rc == 0 ? text : "";
}

SocketHandle OpenStreamSocket(const SocketEndpoint& endpoint, int* error) {
  const int fd = ::socket(FamilyOf(endpoint), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = errno;
    return kNoSocket;
  }
  SetTransportOptions(fd);
  return fd;
}

int StartConnect(SocketHandle socket, const SocketEndpoint& endpoint) {
  if (::connect(Fd(socket), AddressOf(endpoint), static_cast<socklen_t>(endpoint.size)) == 0) {
    return 0;
  }
  // A connect interrupted by a signal goes on like a non-blocking one.
  return errno == EINPROGRESS || errno == EINTR ? kConnectPending : errno;
}

int ConnectOutcome(SocketHandle socket, unsigned) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

ConnectError SocketFailure(int error) {
  errno = error;
  const ConnectFailure failure = error == ECONNREFUSED ? ConnectFailure::kRefused
                                 : error == ETIMEDOUT  ? ConnectFailure::kTimedOut
                                                       : ConnectFailure::kNetwork;
  // Refused and timed out say all there is; any other error names itself.
  return {failure, failure == ConnectFailure::kNetwork ? LastErrorText() : std::string()};
}

int TimedOutError() { return ETIMEDOUT; }

int LastSocketError() { return errno; }

// poll() wakes when another thread shuts the socket down, so `stop` needs
// no slices here.
int WaitSocket(SocketHandle socket, unsigned events, int time_out_ms, const std::atomic<bool>&,
               unsigned* found) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(time_out_ms, 0));
  pollfd entry{Fd(socket), 0, 0};
  if (events & kSocketReadable) entry.events |= POLLIN;
  if (events & kSocketWritable) entry.events |= POLLOUT;
  int ready;
  while ((ready = ::poll(&entry, 1, time_out_ms)) < 0 && errno == EINTR) {
    if (time_out_ms > 0) time_out_ms = MillisecondsLeft(deadline);
  }
  *found = 0;
  if (entry.revents & POLLIN) *found |= kSocketReadable;
  if (entry.revents & POLLOUT) *found |= kSocketWritable;
  if (entry.revents & (POLLERR | POLLHUP)) *found |= kSocketFailed;
  return (entry.revents & POLLNVAL) ? -1 : ready;
}

std::int64_t ReceiveSome(SocketHandle socket, char* buffer, std::size_t size) {
  ssize_t n;
  while ((n = ::recv(Fd(socket), buffer, size, 0)) < 0 && errno == EINTR) {
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return TlsStream::kWouldBlock;
  return n;
}

std::int64_t SendSome(SocketHandle socket, const char* data, std::size_t size) {
  ssize_t n;
  while ((n = ::send(Fd(socket), data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return TlsStream::kWouldBlock;
  return n;
}

void ShutdownSocket(SocketHandle socket) { ::shutdown(Fd(socket), SHUT_RDWR); }

void CloseSocket(SocketHandle socket) { ::close(Fd(socket)); }

std::string LocalAddressOf(SocketHandle socket) { return AddressText(socket, ::getsockname); }

std::string PeerAddressOf(SocketHandle socket) { return AddressText(socket, ::getpeername); }

SocketHandle OpenListeningSocket(const SocketEndpoint& endpoint, int* port, std::string* err) {
  const int fd = ::socket(FamilyOf(endpoint), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *err = LastErrorText();
    return kNoSocket;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // "::" means IPv6 only here; an IPv4 listener is asked for by its own address.
  if (FamilyOf(endpoint) == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (::bind(fd, AddressOf(endpoint), static_cast<socklen_t>(endpoint.size)) != 0 ||
      ::listen(fd, kBacklog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    *err = LastErrorText();
    ::close(fd);
    return kNoSocket;
  }
  const in_port_t bound = local.ss_family == AF_INET6
                              ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                              : reinterpret_cast<const sockaddr_in*>(&local)->sin_port;
  *port = ntohs(bound);
  return fd;
}

SocketHandle AcceptSocket(SocketHandle listener) {
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return kNoSocket;
  SetTransportOptions(fd);
  return fd;
}

}  // namespace postil::platform
