// Shared by the POSIX socket implementations only (never included outside
// src/platform/): wraps an accepted descriptor as a Transport.
#pragma once

#include <memory>

#include "platform/transport.h"

namespace postil::platform {

// Takes ownership of `fd`, a connected TCP socket, and makes it non-blocking
// like every socket of a transport.
std::unique_ptr<Transport> AdoptTcpSocket(int fd);

}  // namespace postil::platform
