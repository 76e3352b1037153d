#include "smtp/notices.h"

#include <string>

#include "config/accounts.h"
#include "config/config.h"
#include "core/run_state.h"
#include "platform/files.h"
#include "smtp/local_mail.h"

namespace postil {
namespace {

constexpr std::string_view kPublisherWeb = "(https://www.quorvex.example)";
constexpr std::string_view kSignature = "QUIL - Internet-Mail-Modul";

// The texts are code page 437: \x94 is o-umlaut, \x81 u-umlaut.
std::string OutdatedHostText() {
  return "\nHinweis: QUIL hat festgestellt, das Ihre Quorvex-Version veraltet ist.\n"
         "Bitte updaten Sie Quorvex mindestens auf die Version 3.30 " +
         std::string(kPublisherWeb) + ".\n\n\n\n" + std::string(kSignature) + "\n\n\n";
}

std::string ConfigurationText() {
  return "\nHinweis: QUIL hat festgestellt, das Ihre aktuelle Konfiguration veraltet ist.\n"
         "Um alle M\x94glichkeiten von QUIL nutzen zu k\x94nnen, installieren Sie QUIL bitte\n"
         "in der RFC/PPP-Box von Quorvex. Sollte Ihre Quorvex-Version keine\n"
         "RFC/PPP-Box unterst\x81tzen, so updaten Sie Quorvex mindestens auf die\n"
         "Version 3.30 " +
         std::string(kPublisherWeb) + ".\n\n\n" + std::string(kSignature) + "\n\n\n";
}

// The notices go to the first POP3 spool directory, created when the POP3
// side never ran; without any POP3 spool entry, to the working directory.
void SelectNoticeDirectory(RunState& state, const Config& config) {
  std::string dir = AccountWord(config.Pop3Spool, 1, Fallback::kNone);
  if (!dir.empty()) {
    if (dir.back() != '\\') dir += '\\';
    std::string bare = dir.substr(0, dir.size() - 1);
    if (!bare.empty() && !platform::DirectoryExists(bare)) platform::MakeDirectory(bare);
  }
  state.InboundSpoolDir.Set(dir);
}

void WriteNotice(RunState& state, const Config& config, std::string_view subject,
                 const std::string& text) {
  SelectNoticeDirectory(state, config);
  NoticeMail mail =
      NoticeMail::OpenNoticeMail(state, kOperatorAddress, LocalSenderText(kProgramAddress), subject,
                                 state.log.For(LogThread::kPop3));
  mail.WriteNoticeText(text);
  mail.CloseNoticeMail();
}

}  // namespace

void WriteOutdatedHostNotice(RunState& state, const Config& config) {
  WriteNotice(state, config, "Subject: Quorvex Version to old", OutdatedHostText());
}

void WriteConfigurationNotice(RunState& state, const Config& config) {
  WriteNotice(state, config, "Subject: Configuration info", ConfigurationText());
}

}  // namespace postil
