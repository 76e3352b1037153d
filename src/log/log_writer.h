// The run's log: one line per WriteLog, appended whole to the program's own
// log QUIL.LOG and to the host's dial-up log QV-PPP.LOG. Set up and closed by
// main alone; WriteLog may be called from any thread at any time.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/files.h"

namespace postil {

class Log {
 public:
  explicit Log(const platform::Clock& clock) : clock_(clock) {}

  // Opens both logs (the log directory comes from LOGDIR in QUORVX.CFG in
  // the current directory), writes the header line and detects debug mode
  // from POSTIL.DEB. A log that cannot be opened is skipped silently.
  void SetupLog();
  void WriteLog(std::string_view text, int thread, int level);
  void CloseLogs();

  bool DebugMode() const { return debug_mode_; }
  // The date text of the header line, by the QUILLOG environment variable.
  std::string LogDateStamp() const;
  // The line WriteLog appends (without CR LF), or nothing when the level is
  // not written outside debug mode.
  std::string FormatLine(std::string_view text, int thread, int level) const;

 private:
  void AppendToBoth(std::string_view line);

  const platform::Clock& clock_;
  bool debug_mode_ = false;    // decided once by SetupLog
  std::mutex append_mutex_;    // one line at a time into each file
  platform::AppendFile main_log_;
  platform::AppendFile host_log_;
};

}  // namespace postil
