#include "platform/tcp_listener.h"

#include "platform/socket_ops.h"

namespace postil::platform {

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(int port, std::string* err, std::string_view address) {
  Close();
  shut_down_ = false;
  SocketEndpoint local;
  std::string reason;
  int bound_port = 0;
  SocketHandle socket = kNoSocket;
  if (ParseEndpoint(std::string(address), port, &local, &reason)) {
    socket = OpenListeningSocket(local, &bound_port, &reason);
  }
  if (socket == kNoSocket) {
    if (err) *err = reason;
    return false;
  }
  std::lock_guard lock(mutex_);
  socket_ = socket;
  port_ = bound_port;
  return true;
}

std::unique_ptr<Transport> TcpListener::Accept(int time_out_ms) {
  if (socket_ == kNoSocket || shut_down_) return nullptr;
  unsigned found = 0;
  const int ready = WaitSocket(socket_, kSocketReadable, time_out_ms, shut_down_, &found);
  if (ready <= 0 || shut_down_ || (found & kSocketReadable) == 0) return nullptr;
  const SocketHandle socket = AcceptSocket(socket_);
  return socket == kNoSocket ? nullptr : AdoptTcpSocket(socket);
}

void TcpListener::Shutdown() {
  shut_down_ = true;
  // Wakes a pending wait where the system does; the flag covers the rest.
  std::lock_guard lock(mutex_);
  if (socket_ != kNoSocket) ShutdownSocket(socket_);
}

void TcpListener::Close() {
  std::lock_guard lock(mutex_);
  if (socket_ == kNoSocket) return;
  CloseSocket(socket_);
  socket_ = kNoSocket;
  port_ = 0;
}

}  // namespace postil::platform
