// A temporary host directory for one test: the configuration file and the
// host's and dialer's files are written into it, the built binary runs in it.
// Removed with everything in it when the object goes (set
// POSTIL_KEEP_TEST_DIRS to keep it for a look).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postil::test {

class HostDir {
 public:
  HostDir();
  ~HostDir();
  HostDir(const HostDir&) = delete;
  HostDir& operator=(const HostDir&) = delete;

  const std::string& path() const { return path_; }
  // A directory of its own for the runs' lock file (XDG_RUNTIME_DIR), so no
  // test leaves one in the user's real runtime directory.
  const std::string& RuntimePath() const { return runtime_path_; }
  // `name` relative to the directory; "/" separates directories.
  std::string PathOf(std::string_view name) const;

  // Writes a file, creating its parent directories.
  void Write(std::string_view name, std::string_view bytes) const;
  std::string Read(std::string_view name) const;
  bool Exists(std::string_view name) const;
  void MakeDir(std::string_view name) const;
  // File names in a subdirectory ("" for the top), sorted.
  std::vector<std::string> List(std::string_view dir = "") const;

  // The host's and dialer's files.
  void WriteHostExe(bool with_release_marker) const;  // QV.EXE
  void WriteHostConfig(std::string_view text) const;   // QUORVX.CFG
  void WriteNoConnectionMarker() const;                // ZDial.No
  void WriteDialerStamp(std::string_view text) const;  // ZDial.Dat
  void EnableDebug() const;                            // POSTIL.DEB

 private:
  std::string path_;
  std::string runtime_path_;
};

struct RunResult {
  int exit_code = -1;
  bool timed_out = false;
  std::string console;  // standard output and error
  std::string log;      // QUIL.LOG of the host directory, empty when missing
};

// Runs the built postil binary in `dir` with the given arguments.
RunResult RunPostilIn(const HostDir& dir, const std::vector<std::string>& args,
                      std::vector<std::pair<std::string, std::string>> env = {},
                      int time_limit_ms = 60000);

// The log with the times of day replaced by "hh:mm:ss" and the header
// line's date by "<date>", so lines can be compared byte for byte.
std::string MaskLogTimes(std::string_view log);

// The log lines (without CR LF) after masking.
std::vector<std::string> LogLines(std::string_view log);

}  // namespace postil::test
