#include "log/logger.h"

#include "log/log_writer.h"

namespace postil {

void Logger::Write(LogLevel level, std::string_view text) const {
  log_->WriteLog(text, thread_, level);
}

}  // namespace postil
