#include "platform/build_system.h"

namespace postil::platform {

// The POSIX layer is built and tested on Linux only.
std::string_view BuildSystemName() { return "Linux"; }

std::string_view BuildBannerText() { return "POSIX build, C++20"; }

}  // namespace postil::platform
