// The run's log: one line per WriteLog, appended whole to the program's own
// log QUIL.LOG and to the host's dial-up log QV-PPP.LOG. Set up and closed by
// main alone; WriteLog may be called from any thread at any time.
#pragma once

#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "log/log_level.h"
#include "log/log_threads.h"
#include "log/logger.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace postil {

class Log {
 public:
  // `program_name` heads every line ("POSTIL "), `version` the header line.
  Log(const platform::Clock& clock, std::string_view program_name, std::string_view version)
      : clock_(clock), program_name_(program_name), version_(version) {}

  // Opens QUIL.LOG, and QV-PPP.LOG when there is a host log directory (a
  // prefix; empty: the current directory), writes the header line and
  // detects debug mode from the program's .DEB file. A log that cannot be
  // opened or written is said once, one line on `notices`, and the run goes
  // on without it.
  void SetupLog(const std::optional<std::string>& host_log_dir,
                std::ostream& notices = std::cerr);
  void WriteLog(std::string_view text, LogThread thread, LogLevel level);
  // The logger through which `thread` writes its lines.
  Logger For(LogThread thread) { return Logger(*this, thread); }
  void CloseLogs();

  bool DebugMode() const { return debug_mode_; }
  // The date text of the header line, by the QUILLOG environment variable.
  std::string LogDateStamp() const;
  // The line WriteLog appends (without CR LF), or nothing when the level is
  // not written outside debug mode. Control bytes of the text are shown as
  // "^X" (ESC as "^[", DEL as "^?"), except TAB and the LF that begins a
  // continuation line (LF TAB).
  std::string FormatLine(std::string_view text, LogThread thread, LogLevel level) const;

 private:
  struct LogFile {
    std::string path;
    platform::AppendFile file;
    bool failure_said = false;
  };

  void Open(LogFile* log, std::string path);
  void Append(LogFile* log, std::string_view bytes);
  void SayFailure(LogFile* log, std::string_view cause);
  void AppendToBoth(std::string_view line);

  const platform::Clock& clock_;
  const std::string program_name_;
  const std::string version_;
  bool debug_mode_ = false;          // decided once by SetupLog
  std::ostream* notices_ = nullptr;  // set once by SetupLog
  std::mutex append_mutex_;          // one line at a time into each file; guards both LogFiles
  LogFile main_log_;
  LogFile host_log_;
};

}  // namespace postil
