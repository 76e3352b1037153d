#include "smtp/transmission.h"

#include <optional>
#include <string>

#include "config/config.h"
#include "core/run_state.h"
#include "smtp/body_sender.h"
#include "smtp/local_mail.h"
#include "smtp/message_rules.h"
#include "smtp/smtp_session.h"
#include "smtp/spool_line_reader.h"
#include "smtp/spool_remainder.h"

namespace postil {
namespace {

constexpr int kPauseAfterRefusalMs = 2000;

enum class Outcome { kAccepted, kRefused, kFailed };

// Sends a command and reads its one-line reply; SentBytes counts it.
Outcome Command(SmtpSession& session, std::string_view command, std::string_view code,
                std::string* reply) {
  if (!session.SendCommand(command)) return Outcome::kFailed;
  session.state().SentBytes += command.size() + 1;
  // A server that closed gives an empty reply: a refusal, not a failure.
  if (session.ReadReply(reply) == ReplyStatus::kFailed) return Outcome::kFailed;
  return reply->starts_with(code) ? Outcome::kAccepted : Outcome::kRefused;
}

void MarkConnectionLost(SmtpSession& session) {
  RunState& state = session.state();
  state.SmtpErrorFlag = true;
  state.SmtpSentRcvdField.Set("");
  state.SmtpInfoField.Set("Connection lost");
  SmtpLog(state, "Connection lost", 2);
  session.CloseConnection();
}

// Ends an open transaction: RSET, so the next one starts clean.
void ResetConnection(SmtpSession& session) {
  SmtpLog(session.state(), "Reset Connection", 0);
  std::string reply;
  bool sent = session.SendCommand("RSET");
  if (sent) session.state().SentBytes += 5;
  if (!sent || session.ReadReply(&reply) != ReplyStatus::kLine || reply.empty()) {
    MarkConnectionLost(session);
    return;
  }
  SmtpLog(session.state(), reply, 0);
}

// Data already sent cannot be taken back: only closing the connection
// makes the server discard the message.
void AbandonTransaction(SmtpSession& session, std::string_view reason) {
  RunState& state = session.state();
  SmtpLog(state, reason, 2);
  state.SmtpErrorFlag = true;
  state.SmtpInfoField.Set("Message abandoned");
  session.AbandonConnection();
}

// A failed send or read: the connection cannot be trusted any more, so no
// further file is tried over it.
bool ChannelFailure(SmtpSession& session) {
  session.state().SmtpErrorFlag = true;
  session.CloseConnection();
  return false;
}

// True when the bounce reached the inbound spool. When it did not, the
// refused message must stay in its spool file, or the sender never hears of
// the refusal.
bool WriteBounce(SmtpSession& session, std::string_view recipient, std::string_view reply) {
  RunState& state = session.state();
  NoticeMail mail =
      NoticeMail::OpenNoticeMail(state, recipient, LocalSenderText(kMailerDaemonAddress),
                                 "Subject: Error Sending Message ", kSmtpThread);
  const std::string rule(70, '-');
  mail.WriteNoticeText("\nSmtp-Server: " + session.account().Server + "\n\n\n" + rule + "\n" +
                       std::string(reply) + "\n" + rule + "\n\n\n");
  if (mail.CloseNoticeMail()) return true;
  SmtpLog(state, "Error writing Bounce to " + std::string(recipient), 2);
  state.SmtpErrorFlag = true;
  return false;
}

// One header line with the "From:" rewrite and, after a mailer line, the
// client line. False when a send failed.
bool SendHeaderLine(SmtpSession& session, std::string line, bool batched) {
  line = RewriteFromLine(line, session.account().Redirect);
  if (IsMailerLine(line)) {
    if (!session.SendCommand(line + std::string(MailerSuffix(batched)))) return false;
    line = ClientLine(batched, session.config().ProductTag, session.LocalIpAddress());
  }
  if (!session.SendCommand(line)) return false;
  session.state().SentBytes += line.size() + 1;
  return true;
}

// --- normal spool files ---

bool NormalFailure(SmtpSession& session, std::string_view command, std::string_view reply,
                   bool reset) {
  SmtpLog(session.state(), command, 2);
  SmtpLog(session.state(), reply, 2);
  session.state().SmtpErrorFlag = true;
  // The refused transaction stays open on the server and would make it
  // refuse the next file's MAIL FROM: reset it while the server answers.
  if (session.Broken()) session.CloseConnection();
  else if (reset) ResetConnection(session);
  return false;
}

std::optional<NormalEnvelope> ScanNormalEnvelope(SmtpSession& session, SpoolLineReader& reader) {
  NormalEnvelope envelope;
  while (!reader.AtEnd()) {
    std::string line = reader.ReadSpoolLine();
    ScanEnvelopeLine(line, session.account().Redirect, &envelope);
    if (line.empty()) break;
  }
  if (reader.Failed() || !reader.Restart()) return std::nullopt;
  return envelope;
}

// The header (its first line, the separator, dropped) and the dot-stuffed
// body; true when all of it was sent.
bool SendNormalContent(SmtpSession& session, SpoolLineReader& reader) {
  reader.ReadSpoolLine();
  std::string line;
  do {
    line = reader.ReadSpoolLine();
    if (reader.Failed()) return false;
    // A header line "." would end the data early.
    if (line.starts_with('.')) line.insert(0, 1, '.');
    if (!SendHeaderLine(session, line, false)) return ChannelFailure(session);
  } while (!line.empty());
  BodySender body(session, session.account().Burst);
  while (!reader.AtEnd()) {
    line = NormalBodyLine(reader.ReadSpoolLine());
    if (reader.Failed()) return false;
    if (!body.SendBodyLine(line, reader.AtEnd())) return ChannelFailure(session);
  }
  return true;
}

// --- batched spool files ---

// kBounced: the server refused the message for good, its sender got the
// bounce, and the file stands after the message: it is done.
enum class CommandPhase { kData, kQuit, kBounced, kFailed };

struct BatchedTransaction {
  std::string sender;
  bool commands_sent = false;  // a transaction is open on the server
};

// Rewrites a "MAIL FROM:" line by the envelope rules and logs it.
std::string MailFromLine(SmtpSession& session, std::string_view line, BatchedTransaction* t) {
  std::string sender;
  for (char c : line.substr(10, kMaxBatchedAddressBytes)) {
    if (c != '<' && c != '>') sender += c;
  }
  const SmtpAccount& account = session.account();
  if (!account.Envelope.empty()) sender = account.Envelope;
  else if (!account.Redirect.empty()) sender = account.Redirect;
  t->sender = sender;
  session.state().SmtpSentRcvdField.Set("Mail from: " + sender);
  SmtpLog(session.state(), "Mail from: <" + sender + ">", 7);
  return "MAIL FROM:<" + sender + ">";
}

void ShowRecipient(SmtpSession& session, std::string_view line) {
  std::string recipient(line.substr(8, kMaxBatchedAddressBytes));
  std::string shown;
  for (char c : recipient) {
    if (c != '<' && c != '>') shown += c;
  }
  session.state().SmtpInfoField.Set("Mail to: " + shown);
  SmtpLog(session.state(), "Mail to: " + recipient, 7);
}

// The file ended or broke before its message was complete.
CommandPhase IncompleteCommands(SmtpSession& session, const BatchedTransaction& t,
                                std::string_view reason) {
  SmtpLog(session.state(), reason, 2);
  session.state().SmtpErrorFlag = true;
  if (t.commands_sent && session.IsOpen()) ResetConnection(session);
  return CommandPhase::kFailed;
}

// True when the refusal is for good (5xx) and its bounce was written.
bool Refused(SmtpSession& session, const BatchedTransaction& t, const std::string& reply) {
  RunState& state = session.state();
  state.SmtpErrorFlag = true;
  state.SmtpSentRcvdField.Set("");
  state.SmtpInfoField.Set(reply.size() > 4 ? std::string_view(reply).substr(4) : "");
  SmtpLog(state, reply, 2);
  bool bounced = WriteBounce(session, t.sender, reply);
  ResetConnection(session);
  platform::SleepMilliseconds(kPauseAfterRefusalMs);
  return bounced && reply.starts_with('5');
}

// Reads past the rest of a refused message: its commands up to "DATA"
// (unless that was the refused one) and its data up to ".".
void SkipRefusedMessage(SpoolLineReader& reader, bool in_data) {
  while (!in_data && !reader.AtEnd()) in_data = reader.ReadSpoolLine() == "DATA";
  while (!reader.AtEnd() && reader.ReadSpoolLine() != ".") {
  }
}

// The command lines up to "DATA" (from `first` when given, else from the
// file), each answered before the next goes.
CommandPhase SendBatchedCommands(SmtpSession& session, SpoolLineReader& reader,
                                 std::optional<std::string> first) {
  RunState& state = session.state();
  BatchedTransaction t;
  for (;;) {
    if (!first && reader.AtEnd())
      return IncompleteCommands(session, t, "Error: Spoolfile ends before DATA");
    std::string line = first ? std::move(*first) : reader.ReadSpoolLine();
    first.reset();
    if (reader.Failed()) return IncompleteCommands(session, t, "Error: Spoolfile unreadable");
    if (line == "QUIT") {
      // A transaction begun without data must not stay open for the next file.
      if (t.commands_sent) ResetConnection(session);
      return CommandPhase::kQuit;
    }
    if (line.starts_with("MAIL FROM:")) line = MailFromLine(session, line, &t);
    if (line.starts_with("RCPT TO:")) ShowRecipient(session, line);
    if (line == "DATA") {
      state.SmtpSentRcvdField.Set("%SendBytes%");
      SmtpLog(state, line, 255);
    }
    std::string reply;
    ReplyStatus status = ReplyStatus::kFailed;
    if (session.SendCommand(line)) {
      state.SentBytes += line.size() + 1;
      t.commands_sent = true;
      status = session.ReadMultiLine("250-", &reply, [&](const std::string& reply_line) {
        state.TotalBytes += reply_line.size() + 2;
        if (reply_line.starts_with("250")) SmtpLog(state, reply_line, 255);
      });
    }
    if (status != ReplyStatus::kLine || reply.empty()) {
      MarkConnectionLost(session);
      return CommandPhase::kFailed;
    }
    if (line != "DATA" && reply.starts_with("250 ")) continue;
    if (reply.starts_with("354")) return CommandPhase::kData;
    if (!Refused(session, t, reply)) return CommandPhase::kFailed;
    SkipRefusedMessage(reader, line == "DATA");
    return reader.Failed() ? CommandPhase::kFailed : CommandPhase::kBounced;
  }
}

// The data lines, already dot-stuffed, up to and including ".".
bool SendBatchedData(SmtpSession& session, SpoolLineReader& reader) {
  RunState& state = session.state();
  BodySender body(session, session.account().Burst);
  bool in_header = true;
  for (;;) {
    if (reader.AtEnd()) {
      AbandonTransaction(session, "Error: Spoolfile ends without \".\", message abandoned");
      return false;
    }
    std::string line = reader.ReadSpoolLine();
    if (reader.Failed()) {
      AbandonTransaction(session, "Error: Spoolfile unreadable, message abandoned");
      return false;
    }
    // "." ends the data, in the header too (a message without body).
    if (line == ".") break;
    bool sent = in_header ? SendHeaderLine(session, line, true)
                          : body.SendBodyLine(SignatureRule(line), false);
    if (!sent) {
      MarkConnectionLost(session);
      return false;
    }
    if (line.empty()) in_header = false;
  }
  std::string reply;
  if (!body.SendBodyLine(".", false)) {
    MarkConnectionLost(session);
    return false;
  }
  ReplyStatus status = session.ReadReply(&reply);
  if (status == ReplyStatus::kLine && reply.starts_with("250")) {
    SmtpLog(state, reply, 0);
    return true;
  }
  state.SmtpErrorFlag = true;
  SmtpLog(state, ".", 2);
  SmtpLog(state, reply, 2);
  if (session.Broken()) session.CloseConnection();
  return false;
}

// After an accepted message: the next command line of a further message,
// or nothing when the file ends here (with "QUIT" or without).
std::optional<std::string> NextBatchedMessage(SpoolLineReader& reader) {
  std::string line;
  while (line.empty() && !reader.AtEnd()) line = reader.ReadSpoolLine();
  if (line.empty() || line == "QUIT" || reader.Failed()) return std::nullopt;
  return line;
}

}  // namespace

bool SendNormalMessage(SmtpSession& session, SpoolLineReader& reader) {
  RunState& state = session.state();
  const SmtpAccount& account = session.account();
  std::optional<NormalEnvelope> envelope = ScanNormalEnvelope(session, reader);
  if (!envelope) {
    state.SmtpErrorFlag = true;
    return false;
  }
  if (envelope->sender.empty() || envelope->recipient.empty()) {
    SmtpLog(state, "Error: no sender or recipient in Spoolfile", 2);
    state.SmtpErrorFlag = true;
    return false;
  }
  std::string sender = account.Envelope.empty() ? envelope->sender : account.Envelope;
  const std::string& recipient = envelope->recipient;

  state.SentBytes = 0;
  std::string reply;
  if (!session.SmtpGreet(HeloDomainOf(sender), &reply)) return NormalFailure(session, "", reply, false);

  std::string command = "MAIL FROM:<" + sender + ">";
  state.SmtpSentRcvdField.Set("Mail from: " + sender);
  SmtpLog(state, "Mail from: <" + sender + ">", 7);
  Outcome outcome = Command(session, command, "250", &reply);
  if (outcome == Outcome::kAccepted) {
    command = "RCPT TO:<" + recipient + ">";
    state.SmtpInfoField.Set("To: " + recipient);
    state.SmtpSentRcvdField.Set("Mail to: " + recipient);
    SmtpLog(state, "Mail to: <" + recipient + ">", 7);
    outcome = Command(session, command, "250", &reply);
  }
  if (outcome == Outcome::kAccepted) {
    command = "DATA";
    state.SmtpSentRcvdField.Set("%SendBytes%");
    outcome = Command(session, command, "354", &reply);
  }
  if (outcome == Outcome::kFailed) return ChannelFailure(session);
  if (outcome == Outcome::kRefused) return NormalFailure(session, command, reply, true);

  if (!SendNormalContent(session, reader)) {
    if (reader.Failed()) AbandonTransaction(session, "Error: Spoolfile unreadable, message abandoned");
    return false;
  }
  if (!session.SendCommand(".")) return ChannelFailure(session);
  state.SentBytes += 2;
  if (session.ReadReply(&reply) == ReplyStatus::kFailed) return ChannelFailure(session);
  if (reply.starts_with("250")) {
    SmtpLog(state, reply, 0);
    return true;
  }
  SmtpLog(state, reply, 2);
  state.SmtpErrorFlag = true;
  if (session.Broken()) session.CloseConnection();
  return false;
}

bool SendBatchedMessage(SmtpSession& session, SpoolLineReader& reader, SpoolRemainder& remainder) {
  RunState& state = session.state();
  state.SentBytes = 0;
  state.SmtpSentRcvdField.Set("%SendBytes%");
  std::string helo = reader.ReadSpoolLine();
  std::string reply;
  if (!session.SmtpGreet(helo.size() > 5 ? std::string_view(helo).substr(5) : "", &reply)) {
    // The file stays unsent: the run must not end as a success.
    state.SmtpErrorFlag = true;
    return false;
  }
  remainder.KeepHead(reader.Offset());
  std::optional<std::string> first;
  for (int message = 1;; ++message) {
    CommandPhase phase = SendBatchedCommands(session, reader, std::move(first));
    if (phase == CommandPhase::kQuit) return true;
    if (phase == CommandPhase::kFailed) return false;
    if (phase == CommandPhase::kData && !SendBatchedData(session, reader)) return false;
    // Further messages of the file go over the same connection. Each one
    // done leaves the file before the next is sent, so that no run sends
    // it again; the file is deleted once none is left.
    const std::uint64_t rest = reader.Offset();
    first = NextBatchedMessage(reader);
    if (reader.Failed()) return false;  // what follows cannot be known sent
    // A file of one refused message stays, like any refused file.
    if (!first) return phase == CommandPhase::kData || message > 1;
    remainder.DropDoneBefore(rest);
    if (!session.IsOpen()) return false;
    state.SentBytes = 0;
    state.SmtpSentRcvdField.Set("%SendBytes%");
  }
}

}  // namespace postil
