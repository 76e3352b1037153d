#include "platform/build_system.h"

namespace postil::platform {

// The POSIX layer is built and tested on Linux only.
std::string_view BuildSystemName() { return "Linux"; }

}  // namespace postil::platform
