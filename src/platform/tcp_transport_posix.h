// Shared by the POSIX socket implementations only (never included outside
// src/platform/): wraps an accepted descriptor as a Transport.
#pragma once

#include <memory>

#include "platform/transport.h"

namespace postil::platform {

// Takes ownership of `fd`, a connected TCP socket.
std::unique_ptr<Transport> AdoptTcpSocket(int fd);

}  // namespace postil::platform
