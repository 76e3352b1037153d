// Levels of log lines, named for what a line at that level reports. The
// level picks the line's two-character mark and whether it is written
// outside debug mode (log_writer.cpp). Constants, any thread.
#pragma once

#include <array>
#include <cstdint>

namespace postil {

enum class LogLevel : std::uint8_t {
  kProgress = 0,       // ordinary progress: "END", "Creating directory: ", rates
  kDataError = 1,      // errors in the data or the dialogue: wrong password, bad spool file
  kFailure = 2,        // failures of resources and connections: time-outs, file errors
  kUnused3 = 3,        // has its mark, no line uses it
  kSpoolDetail = 4,    // SMTP spool detail; debug mode only
  kUnused5 = 5,        // has its mark, no line uses it
  kSetUp = 6,          // authentication steps and filter set-up
  kMessageAction = 7,  // per-message actions: deleting, filtering, the envelope
  kStatistics = 8,     // mailbox status, nothing to send
  kDialogueStart = 9,  // start of a server dialogue
  kConnection = 10,    // connection established or ended
  kTrace = 255,        // protocol lines and inner steps; debug mode only
};

// Every level in order: tables keyed by level follow it row for row.
inline constexpr std::array<LogLevel, 12> kLogLevels = {
    LogLevel::kProgress,      LogLevel::kDataError,     LogLevel::kFailure,
    LogLevel::kUnused3,       LogLevel::kSpoolDetail,   LogLevel::kUnused5,
    LogLevel::kSetUp,         LogLevel::kMessageAction, LogLevel::kStatistics,
    LogLevel::kDialogueStart, LogLevel::kConnection,    LogLevel::kTrace,
};

}  // namespace postil
