// Shared by the Winsock implementations only (never included outside
// src/platform/): starts Winsock and wraps an accepted socket as a Transport.
#pragma once

#include <memory>

#include "platform/transport.h"

namespace postil::platform {

// WSAStartup, once per process; false when Winsock cannot be had.
bool StartWinsock();

// Takes ownership of `fd`, a connected TCP socket (its handle value), and
// makes it non-blocking like every socket of a transport.
std::unique_ptr<Transport> AdoptTcpSocket(int fd);

}  // namespace postil::platform
