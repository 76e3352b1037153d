#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/wide_text_win32.h"
#include "support/test_system.h"

namespace postil::test {
namespace {

// The version of Wine the tests run under; nothing on Windows itself.
const char* WineVersion() {
  using VersionCall = const char*(__cdecl*)();
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto version = reinterpret_cast<VersionCall>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
  return version != nullptr ? version() : nullptr;
}

}  // namespace

std::string SystemErrorText(SystemError error) {
  switch (error) {
    // Opening a directory to write to is refused like any denied access.
    case SystemError::kIsDirectory: return platform::Win32ErrorText(ERROR_ACCESS_DENIED);
    case SystemError::kPathNotFound: return platform::Win32ErrorText(ERROR_PATH_NOT_FOUND);
    case SystemError::kDiskFull: return platform::Win32ErrorText(ERROR_DISK_FULL);
  }
  return {};
}

// Drive letters are real here: the directory's own full path.
DrivePath DrivePathOf(const std::string& dir) {
  std::string prefix = std::filesystem::absolute(dir).string();
  std::replace(prefix.begin(), prefix.end(), '/', '\\');
  if (!prefix.ends_with('\\')) prefix += '\\';
  return {prefix, {}};
}

std::string FullDevicePath() { return ""; }

// PlaySound plays the file through the system's own sound service.
bool SoundPlayerIsAProgram() { return false; }

// Schannel serves both ends of a handshake on Windows, but Wine's Schannel
// (over the host's GnuTLS) is a client only: it has no
// AcceptSecurityContext.
std::string TlsServerMissing() {
  const char* wine = WineVersion();
  if (wine == nullptr) return {};
  return std::string("Wine ") + wine +
         ": its Schannel has no server side (AcceptSecurityContext), so no test server can "
         "secure a connection";
}

std::string KilledConnectionsLinger() {
  const char* wine = WineVersion();
  if (wine == nullptr) return {};
  return std::string("Wine ") + wine +
         ": a killed program's connection is at times not closed for seconds, and the test "
         "server waits on it";
}

}  // namespace postil::test
