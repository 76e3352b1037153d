#include <cerrno>
#include <cstring>

#include "support/test_system.h"

namespace postil::test {

std::string SystemErrorText(SystemError error) {
  switch (error) {
    case SystemError::kIsDirectory: return std::strerror(EISDIR);
    case SystemError::kPathNotFound: return std::strerror(ENOENT);
    case SystemError::kDiskFull: return std::strerror(ENOSPC);
  }
  return {};
}

// Drive letters are mapped to directories by the environment here.
DrivePath DrivePathOf(const std::string& dir) { return {"C:\\", {{"POSTIL_DRIVE_C", dir}}}; }

std::string FullDevicePath() { return "/dev/full"; }

bool SoundPlayerIsAProgram() { return true; }

// OpenSSL serves both ends of a handshake.
std::string TlsServerMissing() { return {}; }

std::string KilledConnectionsLinger() { return {}; }

}  // namespace postil::test
