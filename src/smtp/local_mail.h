// Mails of POSTIL's own written into the inbound spool in the batched form
// the host imports: bounces of refused messages (SMTP worker) and the
// operator notices (main, at the end of the run). Each line ends with the
// run's LineEnd, taken afresh for every line. A mail is owned by the thread
// that opened it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/inbound_spool.h"
#include "log/logger.h"

namespace postil {

struct RunState;

// The fixed local addresses of these mails.
inline constexpr std::string_view kOperatorAddress = "postmaster@localhost";
inline constexpr std::string_view kProgramAddress = "postil@localhost";
inline constexpr std::string_view kMailerDaemonAddress = "mailer-daemon@localhost";
inline constexpr std::string_view kLocalMessageIdDomain = "postil.local";

// A sender address followed by " (QUIL " + ProgramVersion + ")".
std::string LocalSenderText(std::string_view address);

// "Message-ID: " + seconds since midnight + MM-DD-YYYY + "@" + domain.
std::string LocalMessageIdLine(const platform::LocalTime& now);

class NoticeMail {
 public:
  // Creates the spool file in the current inbound spool directory (the
  // working directory when none was chosen) and writes the envelope and
  // header. A mail that could not be created (CreateSpoolFile logged it)
  // takes the other calls without effect.
  static NoticeMail OpenNoticeMail(RunState& state, std::string_view recipient,
                                   std::string_view sender_text, std::string_view subject_line,
                                   Logger log);
  bool IsOpen() const { return file_.has_value(); }
  // The text (its lines separated by LF) and a line end.
  void WriteNoticeText(std::string_view text);
  // "." and "QUIT", then the file appears under its name. True when it
  // did; a failure leaves nothing partial under the name and no log line.
  bool CloseNoticeMail();

 private:
  NoticeMail(RunState& state, std::optional<SpoolFile> file);
  void WriteLine(std::string_view text);

  RunState& state_;
  std::optional<SpoolFile> file_;
};

}  // namespace postil
