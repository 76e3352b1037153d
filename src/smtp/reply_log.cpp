#include "smtp/reply_log.h"

#include <string>

namespace postil {

void ReplyLog::Line(LogLevel level, std::string_view line) {
  // Once a line is left out, so are all after it: the log never skips
  // within a reply.
  const bool fits = left_out_ == 0 && lines_ < kLoggedReplyLines &&
                    (lines_ == 0 || bytes_ + line.size() <= kLoggedReplyBytes);
  if (!fits) {
    if (left_out_++ == 0) left_out_level_ = level;
    return;
  }
  ++lines_;
  bytes_ += line.size();
  log_.Write(level, line);
}

void ReplyLog::End() {
  if (left_out_ == 0) return;
  log_.Write(left_out_level_, "... (" + std::to_string(left_out_) +
                                  (left_out_ == 1 ? " more line" : " more lines") +
                                  " of the reply not logged)");
}

}  // namespace postil
