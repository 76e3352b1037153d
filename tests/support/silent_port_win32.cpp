#include "support/silent_port.h"

namespace postil::test {

// Winsock refuses a connect that a full accept queue cannot take, so no
// port stays silent here.
SilentPort::SilentPort() = default;

SilentPort::~SilentPort() = default;

}  // namespace postil::test
