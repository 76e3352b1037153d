// What differs between the systems the tests run on, so that one test and
// one expectation hold on each: the texts the system gives for the errors
// the tests provoke, the drive a host path names, the devices and players
// the tests stand in for. Any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace postil::test {

enum class SystemError {
  kIsDirectory,   // a directory opened as a file to write to
  kPathNotFound,  // a file in a directory that does not exist
  kDiskFull,      // a write to a full disk
};

// The system's text for the error, as the program logs it.
std::string SystemErrorText(SystemError error);

// A host path ("C:\...\") that names the directory `dir`, with the
// environment a run needs to see it so.
struct DrivePath {
  std::string prefix;  // ends in a backslash
  std::vector<std::pair<std::string, std::string>> env;
};
DrivePath DrivePathOf(const std::string& dir);

// A file that takes no byte, so that every write to it fails as on a full
// disk; empty where the system has none.
std::string FullDevicePath();

// Why this system cannot serve TLS to the tests' own servers; empty when it
// can.
std::string TlsServerMissing();

// Why a program killed here may leave its connections open for a while, so
// that the server it talked to stays busy; empty where a kill closes them at
// once.
std::string KilledConnectionsLinger();

// True where a kill's sound is played through a program found on the PATH
// (which a test can stand in for); false where the system plays it itself.
bool SoundPlayerIsAProgram();

}  // namespace postil::test
