#include "smtp/outgoing_spool.h"

#include "core/data_file.h"
#include "core/run_state.h"
#include "platform/files.h"
#include "platform/sound.h"
#include "smtp/smtp_session.h"
#include "smtp/spool_line_reader.h"
#include "smtp/spool_remainder.h"
#include "smtp/transmission.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kPatterns[] = {"M????.OUT", "*.EML"};
constexpr int kUnknownFormatBeeps = 4;
constexpr int kUnknownFormatPauseMs = 5000;

bool SendUnknownFormat(SmtpSession& session) {
  RunState& state = session.state();
  state.BatchedMode = false;
  state.SmtpInfoField.Set("unknown Format of Spoolfile!!!");
  session.log().Write(LogLevel::kFailure, "Mode: unknown Format of Spoolfile");
  for (int i = 0; i < kUnknownFormatBeeps; ++i) platform::Beep();
  platform::SleepMilliseconds(kUnknownFormatPauseMs);
  return false;
}

bool SendByFormat(SmtpSession& session, SpoolLineReader& reader, SpoolRemainder& remainder,
                  std::string_view first_bytes) {
  RunState& state = session.state();
  switch (DecideSpoolFormat(first_bytes)) {
    case SpoolFormat::kBatched:
      state.BatchedMode = true;
      session.log().Write(LogLevel::kSpoolDetail, "Mode: Batched Smtp");
      return SendBatchedMessage(session, reader, remainder);
    case SpoolFormat::kNormal:
      state.BatchedMode = false;
      session.log().Write(LogLevel::kSpoolDetail, "Mode: Normal Smtp");
      return SendNormalMessage(session, reader);
    case SpoolFormat::kUnknown:
      break;
  }
  return SendUnknownFormat(session);
}

// The first bytes of the file, the read position back at its start.
std::string FirstBytes(platform::InputFile& file) {
  char bytes[4];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    std::int64_t n = file.Read(bytes + filled, sizeof bytes - filled);
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  file.Rewind();
  return std::string(bytes, filled);
}

}  // namespace

SpoolFormat DecideSpoolFormat(std::string_view first_bytes) {
  std::string word = UpperCase(first_bytes.substr(0, 4));
  if (word == "HELO") return SpoolFormat::kBatched;
  if (word == "FROM") return SpoolFormat::kNormal;
  return SpoolFormat::kUnknown;
}

void SendSpoolDirectory(SmtpSession& session, TriedFiles* tried, SpoolRewriter& rewriter) {
  RunState& state = session.state();
  const std::string& dir = session.account().SpoolDir;
  for (std::string_view pattern : kPatterns) {
    if (state.ExitRequested || !state.SmtpConnected) return;
    for (const std::string& name : platform::FindFiles(dir, pattern)) {
      if (!tried->insert(name).second) continue;
      SendSpoolFile(session, name, rewriter);
      if (state.ExitRequested) {
        state.SmtpInfoField.Set(ExitRequestText);
        return;
      }
      // Once the connection is gone no further file is tried over it.
      if (!state.SmtpConnected || !session.IsOpen()) return;
    }
  }
}

bool HasUntriedFiles(std::string_view dir, const TriedFiles& tried) {
  for (std::string_view pattern : kPatterns) {
    for (const std::string& name : platform::FindFiles(dir, pattern)) {
      if (!tried.contains(name)) return true;
    }
  }
  return false;
}

bool SendSpoolFile(SmtpSession& session, const std::string& name, SpoolRewriter& rewriter) {
  RunState& state = session.state();
  const std::string path = session.account().SpoolDir + name;
  platform::InputFile file;
  if (!OpenDataFile(state, &file, path, session.log())) return false;
  session.log().Write(LogLevel::kSpoolDetail, "Sending: " + path);
  std::uint64_t length = platform::FileSize(path).value_or(0);
  state.SpoolFileSize = length;
  SpoolLineReader reader(session.log(), file, length);
  SpoolRemainder remainder(state, session.log(), path, rewriter);
  bool sent = SendByFormat(session, reader, remainder, FirstBytes(file));
  file.Close();
  if (!sent) {
    session.log().Write(LogLevel::kFailure, "Error sending: " + path);
    return false;
  }
  if (platform::RemoveFile(path, nullptr)) {
    session.log().Write(LogLevel::kSpoolDetail, "Spoolfile deleted");
  } else {
    session.log().Write(LogLevel::kFailure, "Error deleting Spoolfile");
  }
  return true;
}

}  // namespace postil
