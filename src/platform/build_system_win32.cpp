#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/build_system.h"

namespace postil::platform {
namespace {

// Standard output and error carry the same bytes as on every other system:
// no CR is put before each LF. Set before main, as every program of this
// build shows its build.
const bool g_binary_std_streams = [] {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace

// The same source is built as a 32-bit and as a 64-bit Windows program.
std::string_view BuildSystemName() { return sizeof(void*) == 8 ? "Win64" : "Win32"; }

std::string_view BuildBannerText() {
  return sizeof(void*) == 8 ? "Win64 build, C++20" : "Win32 build, C++20";
}

}  // namespace postil::platform
