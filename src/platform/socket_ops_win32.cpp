#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/socket_ops.h"
#include "platform/tls_layer.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(SocketEndpoint::storage));

constexpr int kBacklog = 16;
// The longest single select(): how late a wait may see `stop`, since a
// shutdown() from another thread does not end a select() under every Winsock.
constexpr int kWaitSliceMs = 50;
// Winsock takes lengths as int.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

SOCKET Sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

const sockaddr* AddressOf(const SocketEndpoint& endpoint) {
  return reinterpret_cast<const sockaddr*>(endpoint.storage.data());
}

int FamilyOf(const SocketEndpoint& endpoint) { return AddressOf(endpoint)->sa_family; }

// WSAStartup, once per process; Winsock stays up until the process ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string ErrorText(int error) { return Win32ErrorText(static_cast<unsigned long>(error)); }

SOCKET NewSocket(const SocketEndpoint& endpoint) {
  StartWinsock();
  return ::WSASocketW(FamilyOf(endpoint), SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

void SetTransportOptions(SOCKET socket) {
  u_long on_blocking = 1;
  ::ioctlsocket(socket, FIONBIO, &on_blocking);
  const linger no_linger{0, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&no_linger),
               sizeof no_linger);
  const BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void CopyEndpoint(const addrinfo& entry, SocketEndpoint* endpoint) {
  const std::size_t size = std::min<std::size_t>(entry.ai_addrlen, endpoint->storage.size());
  std::memcpy(endpoint->storage.data(), entry.ai_addr, size);
  endpoint->size = static_cast<int>(size);
}

using NameCall = int(WSAAPI*)(SOCKET, sockaddr*, int*);

std::string AddressText(SocketHandle socket, NameCall call) {
  SocketEndpoint endpoint;
  int size = static_cast<int>(endpoint.storage.size());
  if (call(Sock(socket), reinterpret_cast<sockaddr*>(endpoint.storage.data()), &size) != 0) {
    return "";
  }
  endpoint.size = size;
  return EndpointText(endpoint);
}

// One select() of at most `time_out_ms`, as poll() would say it: a failed
// connect shows in the exception set.
int SelectOnce(SOCKET socket, unsigned events, int time_out_ms, unsigned* found) {
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  if (events & kSocketReadable) FD_SET(socket, &readable);
  if (events & kSocketWritable) FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval limit{time_out_ms / 1000, (time_out_ms % 1000) * 1000};
  const int ready = ::select(0, &readable, &writable, &failed, &limit);
  *found = 0;
  if (ready > 0) {
    if (FD_ISSET(socket, &readable)) *found |= kSocketReadable;
    if (FD_ISSET(socket, &writable)) *found |= kSocketWritable;
    if (FD_ISSET(socket, &failed)) *found |= kSocketFailed;
  }
  return ready;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool ParseEndpoint(const std::string& address, int port, SocketEndpoint* endpoint,
                   std::string* err) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    *err = address + ": " + ErrorText(rc);
    return false;
  }
  CopyEndpoint(*found, endpoint);
  ::freeaddrinfo(found);
  return true;
}

bool ResolveEndpoints(const std::string& name, std::vector<SocketEndpoint>* found,
                      std::string* err) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    *err = ErrorText(rc);
    return false;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    CopyEndpoint(*entry, &found->emplace_back());
  }
  ::freeaddrinfo(list);
  return true;
}

std::string EndpointText(const SocketEndpoint& endpoint) {
  char text[NI_MAXHOST];
  if (FamilyOf(endpoint) == AF_INET6) {
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(AddressOf(endpoint));
    if (IN6_IS_ADDR_V4MAPPED(&ipv6->sin6_addr)) {
      in_addr ipv4{};
      std::memcpy(&ipv4, &ipv6->sin6_addr.s6_addr[12], sizeof ipv4);
      return ::inet_ntop(AF_INET, &ipv4, text, sizeof text) ? text : "";
    }
  }
  const int rc = ::getnameinfo(AddressOf(endpoint), endpoint.size, text, sizeof text, nullptr, 0,
                               NI_NUMERICHOST);
  return rc == 0 ? text : "";
}

SocketHandle OpenStreamSocket(const SocketEndpoint& endpoint, int* error) {
  const SOCKET socket = NewSocket(endpoint);
  if (socket == INVALID_SOCKET) {
    *error = ::WSAGetLastError();
    return kNoSocket;
  }
  SetTransportOptions(socket);
  return static_cast<SocketHandle>(socket);
}

int StartConnect(SocketHandle socket, const SocketEndpoint& endpoint) {
  if (::connect(Sock(socket), AddressOf(endpoint), endpoint.size) == 0) return 0;
  const int error = ::WSAGetLastError();
  return error == WSAEWOULDBLOCK ? kConnectPending : error;
}

int ConnectOutcome(SocketHandle socket, unsigned found) {
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(Sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
      0) {
    return ::WSAGetLastError();
  }
  // A refused connect can show in the exception set before SO_ERROR says so.
  return error == 0 && (found & kSocketFailed) ? WSAECONNREFUSED : error;
}

ConnectError SocketFailure(int error) {
  const ConnectFailure failure = error == WSAECONNREFUSED ? ConnectFailure::kRefused
                                 : error == WSAETIMEDOUT  ? ConnectFailure::kTimedOut
                                                          : ConnectFailure::kNetwork;
  // Refused and timed out say all there is; any other error names itself.
  return {failure, failure == ConnectFailure::kNetwork ? ErrorText(error) : std::string()};
}

int TimedOutError() { return WSAETIMEDOUT; }

int LastSocketError() { return ::WSAGetLastError(); }

int WaitSocket(SocketHandle socket, unsigned events, int time_out_ms,
               const std::atomic<bool>& stop, unsigned* found) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_out_ms);
  for (;;) {
    const int slice =
        time_out_ms < 0 ? kWaitSliceMs : std::min(kWaitSliceMs, MillisecondsLeft(deadline));
    const int ready = SelectOnce(Sock(socket), events, slice, found);
    if (ready != 0 || stop) return ready;
    if (time_out_ms >= 0 && MillisecondsLeft(deadline) == 0) return 0;
  }
}

std::int64_t ReceiveSome(SocketHandle socket, char* buffer, std::size_t size) {
  const int n = ::recv(Sock(socket), buffer, static_cast<int>(std::min(size, kMaxChunk)), 0);
  if (n == SOCKET_ERROR) {
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? TlsStream::kWouldBlock : -1;
  }
  return n;
}

std::int64_t SendSome(SocketHandle socket, const char* data, std::size_t size) {
  const int n = ::send(Sock(socket), data, static_cast<int>(std::min(size, kMaxChunk)), 0);
  if (n == SOCKET_ERROR) {
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? TlsStream::kWouldBlock : -1;
  }
  return n;
}

void ShutdownSocket(SocketHandle socket) { ::shutdown(Sock(socket), SD_BOTH); }

void CloseSocket(SocketHandle socket) { ::closesocket(Sock(socket)); }

std::string LocalAddressOf(SocketHandle socket) { return AddressText(socket, ::getsockname); }

std::string PeerAddressOf(SocketHandle socket) { return AddressText(socket, ::getpeername); }

SocketHandle OpenListeningSocket(const SocketEndpoint& endpoint, int* port, std::string* err) {
  const SOCKET socket = NewSocket(endpoint);
  if (socket == INVALID_SOCKET) {
    *err = ErrorText(::WSAGetLastError());
    return kNoSocket;
  }
  // Exclusive: on Windows SO_REUSEADDR would let another socket take the port.
  const BOOL on = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  // "::" means IPv6 only here; an IPv4 listener is asked for by its own address.
  if (FamilyOf(endpoint) == AF_INET6) {
    ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
  }
  sockaddr_storage local{};
  int size = sizeof local;
  if (::bind(socket, AddressOf(endpoint), endpoint.size) != 0 ||
      ::listen(socket, kBacklog) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    *err = ErrorText(::WSAGetLastError());
    ::closesocket(socket);
    return kNoSocket;
  }
  const u_short bound = local.ss_family == AF_INET6
                            ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                            : reinterpret_cast<const sockaddr_in*>(&local)->sin_port;
  *port = ntohs(bound);
  return static_cast<SocketHandle>(socket);
}

SocketHandle AcceptSocket(SocketHandle listener) {
  const SOCKET socket = ::accept(Sock(listener), nullptr, nullptr);
  if (socket == INVALID_SOCKET) return kNoSocket;
  // Not handed to the programs this process starts, which would hold the
  // connection open after we close it.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  SetTransportOptions(socket);
  return static_cast<SocketHandle>(socket);
}

}  // namespace postil::platform
