#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/wide_text_win32.h"
#include "support/test_system.h"

namespace postil::test {

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

}  // namespace postil::test
