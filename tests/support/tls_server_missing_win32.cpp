// Schannel serves both ends of a handshake on Windows, but Wine's Schannel
// (over the host's GnuTLS) is a client only: it has no
// AcceptSecurityContext, so a test server cannot secure its end there.
#include <windows.h>

#include "support/tls_server_missing.h"

namespace postil::test {

std::string TlsServerMissing() {
  using WineVersion = const char*(__cdecl*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto wine_version = reinterpret_cast<WineVersion>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (wine_version == nullptr) return {};
  return std::string("Wine ") + wine_version() +
         ": its Schannel has no server side (AcceptSecurityContext), so no test server can "
         "secure a connection";
}

}  // namespace postil::test
