#include "smtp/transaction_ending.h"

#include <string>

#include "config/accounts.h"
#include "core/run_state.h"
#include "platform/clock.h"
#include "smtp/local_mail.h"
#include "smtp/smtp_session.h"

namespace postil {
namespace {

// A failed RSET leaves the server in an unknown state: the connection is lost.
void ResetConnection(SmtpSession& session) {
  session.log().Write(LogLevel::kProgress, "Reset Connection");
  std::string reply;
  bool sent = session.SendCommand("RSET");
  if (sent) session.state().SentBytes += 5;
  if (!sent || session.ReadReply(&reply) != ReplyStatus::kLine || reply.empty()) {
    EndTransaction(session, ending::kConnectionLost);
    return;
  }
  session.log().Write(LogLevel::kProgress, reply);
}

bool WriteBounce(SmtpSession& session, std::string_view recipient, std::string_view reply) {
  RunState& state = session.state();
  NoticeMail mail =
      NoticeMail::OpenNoticeMail(state, recipient, LocalSenderText(kMailerDaemonAddress),
                                 "Subject: Error Sending Message ", session.log());
  const std::string rule(70, '-');
  mail.WriteNoticeText("\nSmtp-Server: " + session.account().Server + "\n\n\n" + rule + "\n" +
                       std::string(reply) + "\n" + rule + "\n\n\n");
  if (mail.CloseNoticeMail()) return true;
  session.log().Write(LogLevel::kFailure, "Error writing Bounce to " + std::string(recipient));
  state.SmtpErrorFlag = true;
  return false;
}

void ShowAndLog(SmtpSession& session, const Ending& ending, const Exchange& exchange) {
  RunState& state = session.state();
  if (ending.error_flag) state.SmtpErrorFlag = true;
  if (ending.clear_sent_rcvd) state.SmtpSentRcvdField.Set("");
  if (!ending.info.empty()) state.SmtpInfoField.Set(ending.info);
  if (ending.show_refusal)
    state.SmtpInfoField.Set(exchange.reply.size() > 4 ? exchange.reply.substr(4) : "");
  if (!ending.log.empty()) session.log().Write(LogLevel::kFailure, ending.log);
  if (ending.log_command) session.log().Write(LogLevel::kFailure, exchange.command);
  if (ending.log_reply) session.log().Write(LogLevel::kFailure, exchange.reply);
}

void LeaveConnection(SmtpSession& session, Afterwards afterwards, bool commands_sent) {
  switch (afterwards) {
    case Afterwards::kKeep:
      return;
    case Afterwards::kCloseIfBroken:
      if (session.Broken()) session.CloseConnection();
      return;
    case Afterwards::kReset:
      if (!commands_sent) return;
      if (session.Broken()) {
        session.CloseConnection();
      } else if (session.IsOpen()) {
        ResetConnection(session);
      }
      return;
    case Afterwards::kClose:
      session.CloseConnection();
      return;
    case Afterwards::kAbandon:
      session.AbandonConnection();
      return;
  }
}

}  // namespace

bool EndTransaction(SmtpSession& session, const Ending& ending, const Exchange& exchange) {
  ShowAndLog(session, ending, exchange);
  const bool bounced = ending.bounce && WriteBounce(session, exchange.sender, exchange.reply);
  LeaveConnection(session, ending.afterwards, exchange.commands_sent);
  if (ending.pause_ms > 0) platform::SleepMilliseconds(ending.pause_ms);
  return bounced;
}

}  // namespace postil
