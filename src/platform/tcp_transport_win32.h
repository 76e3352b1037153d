// Shared by the Winsock implementations only (never included outside
// src/platform/): starts Winsock, waits on a socket and wraps an accepted
// socket as a Transport.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <memory>

#include "platform/transport.h"

namespace postil::platform {

// WSAStartup, once per process; false when Winsock cannot be had.
bool StartWinsock();

// Waits until the socket `fd` is ready for `events` (POLLIN, POLLOUT),
// at most `time_out_ms` (negative: no limit), and sets what happened in
// `revents` (POLLIN, POLLOUT, POLLERR). Returns select()'s count: 0 on a
// time-out or once `stop` is set, negative on an error. A shutdown() from
// another thread does not end a select() under every Winsock, so the wait
// runs in short slices and reads `stop` between them.
int WaitForSocket(int fd, short events, int time_out_ms, const std::atomic<bool>& stop,
                  short* revents);

// Takes ownership of `fd`, a connected TCP socket (its handle value), and
// makes it non-blocking like every socket of a transport.
std::unique_ptr<Transport> AdoptTcpSocket(int fd);

}  // namespace postil::platform
