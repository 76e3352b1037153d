#include "smtp/local_mail.h"

#include <cstdio>

#include "core/run_state.h"
#include "text/date_address.h"

namespace postil {
namespace {

// Seconds since midnight with the milliseconds, trailing zeros dropped, so
// that two mails written within one second still get different IDs.
std::string SecondsText(const platform::LocalTime& now) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%03d", now.hour * 3600 + now.minute * 60 + now.second,
                now.millisecond);
  std::string seconds(text);
  while (seconds.back() == '0') seconds.pop_back();
  if (seconds.back() == '.') seconds.pop_back();
  return seconds;
}

}  // namespace

std::string LocalSenderText(std::string_view address) {
  return std::string(address) + " (QUIL " + std::string(ProgramVersion) + ")";
}

std::string LocalMessageIdLine(const platform::LocalTime& now) {
  char date[16];
  std::snprintf(date, sizeof date, "%02d-%02d-%04d", now.month, now.day, now.year);
  return "Message-ID: " + SecondsText(now) + date + "@" + std::string(kLocalMessageIdDomain);
}

NoticeMail::NoticeMail(RunState& state, std::optional<SpoolFile> file)
    : state_(state), file_(std::move(file)) {}

NoticeMail NoticeMail::OpenNoticeMail(RunState& state, std::string_view recipient,
                                      std::string_view sender_text, std::string_view subject_line,
                                      Logger log) {
  NoticeMail mail(state, CreateSpoolFile(state, state.InboundSpoolDir.Get(), ".MSG", log));
  if (!mail.IsOpen()) return mail;
  platform::LocalTime now = state.clock.Now();
  mail.WriteLine("HELO " + state.SmtpServerName.Get());
  mail.WriteLine("RCPT TO: " + std::string(recipient));
  mail.WriteLine("DATA");
  mail.WriteLine(MakeDateHeader(now));
  mail.WriteLine("To: " + std::string(recipient));
  mail.WriteLine("From: " + std::string(sender_text));
  mail.WriteLine(subject_line);
  mail.WriteLine(LocalMessageIdLine(now));
  mail.WriteLine("");
  mail.WriteLine("");
  return mail;
}

void NoticeMail::WriteNoticeText(std::string_view text) { WriteLine(text); }

bool NoticeMail::CloseNoticeMail() {
  if (!file_) return false;
  WriteLine(".");
  WriteLine("QUIT");
  bool written = file_->Commit(nullptr);
  file_.reset();
  return written;
}

void NoticeMail::WriteLine(std::string_view text) {
  if (!file_) return;
  std::string line(text);
  line += state_.LineEnd();
  file_->Write(line);
}

}  // namespace postil
