// A thread's way into the run's log: the log and the thread number its lines
// carry. A small value, copied freely; each thread makes its own with
// Log::For and the Log outlives it.
#pragma once

#include <string_view>

#include "log/log_level.h"
#include "log/log_threads.h"

namespace postil {

class Log;

class Logger {
 public:
  Logger(Log& log, LogThread thread) : log_(&log), thread_(thread) {}

  // One line at `level` with this logger's thread number (Log::WriteLog).
  void Write(LogLevel level, std::string_view text) const;

 private:
  Log* log_;
  LogThread thread_;
};

}  // namespace postil
