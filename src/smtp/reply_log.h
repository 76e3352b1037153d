// What one server reply may write to the log: its first line whole, further
// lines whole while the reply stays within kLoggedReplyLines and
// kLoggedReplyBytes, then one line that says how many lines were left out,
// so that a server's banner of a hundred long lines cannot add megabytes to
// the log in every run. Owned by the session reading the reply.
#pragma once

#include <cstddef>
#include <string_view>

#include "log/logger.h"

namespace postil {

class ReplyLog {
 public:
  // Well above a real greeting or EHLO reply (a dozen short lines), and a
  // screenful of the log at most.
  static constexpr int kLoggedReplyLines = 20;
  static constexpr std::size_t kLoggedReplyBytes = 4096;

  explicit ReplyLog(const Logger& log) : log_(log) {}

  // A line of the reply, to be logged at `level`.
  void Line(LogLevel level, std::string_view line);
  // The reply is complete: says what was left out, at the level of the
  // first line left out. Nothing when all was logged.
  void End();

 private:
  const Logger& log_;
  int lines_ = 0;
  std::size_t bytes_ = 0;
  int left_out_ = 0;
  LogLevel left_out_level_ = LogLevel::kProgress;
};

}  // namespace postil
