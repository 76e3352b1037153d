// Whether the tests' own TLS servers can run here: the build's TLS library
// must serve the server side of a handshake too. Any thread.
#pragma once

#include <string>

namespace postil::test {

// Why this system cannot serve TLS to the tests; empty when it can.
std::string TlsServerMissing();

}  // namespace postil::test
