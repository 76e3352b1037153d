// OpenSSL serves both ends of a handshake.
#include "support/tls_server_missing.h"

namespace postil::test {

std::string TlsServerMissing() { return {}; }

}  // namespace postil::test
