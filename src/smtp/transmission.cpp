#include "smtp/transmission.h"

#include <optional>
#include <span>
#include <string>

#include "config/config.h"
#include "core/run_state.h"
#include "smtp/body_sender.h"
#include "smtp/message_rules.h"
#include "smtp/reply_log.h"
#include "smtp/smtp_session.h"
#include "smtp/spool_line_reader.h"
#include "smtp/spool_remainder.h"
#include "smtp/transaction_ending.h"

namespace postil {
namespace {

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

// Ends the transaction; false, for the callers that stop with it.
bool Stop(SmtpSession& session, const Ending& ending, const Exchange& exchange = {}) {
  EndTransaction(session, ending, exchange);
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

// One command of a normal transaction: what the fields and the log show
// before it goes, the reply that lets the transaction go on, and how it
// ends on any other reply.
struct NormalStep {
  std::string command;
  std::string_view code;
  std::string info;       // SmtpInfoField, unless empty
  std::string sent_rcvd;  // SmtpSentRcvdField, unless empty
  std::string log;        // kMessageAction, unless empty
  const Ending* refused;
  bool log_accepted = false;  // the accepting reply, kProgress
};

// Walks the steps in order; false at the first that does not get its reply.
bool RunSteps(SmtpSession& session, std::span<const NormalStep> steps) {
  RunState& state = session.state();
  for (const NormalStep& step : steps) {
    if (!step.info.empty()) state.SmtpInfoField.Set(step.info);
    if (!step.sent_rcvd.empty()) state.SmtpSentRcvdField.Set(step.sent_rcvd);
    if (!step.log.empty()) session.log().Write(LogLevel::kMessageAction, step.log);
    std::string reply;
    switch (Command(session, step.command, step.code, &reply)) {
      case Outcome::kFailed:
        return Stop(session, ending::kChannelFailure);
      case Outcome::kRefused:
        return Stop(session, *step.refused,
                    {.command = step.command, .reply = reply, .commands_sent = true});
      case Outcome::kAccepted:
        break;
    }
    if (step.log_accepted) session.log().Write(LogLevel::kProgress, reply);
  }
  return true;
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
  session.BeginData();
  reader.ReadSpoolLine();
  std::string line;
  do {
    line = reader.ReadSpoolLine();
    if (reader.Failed()) return false;
    // A header line "." would end the data early.
    if (line.starts_with('.')) line.insert(0, 1, '.');
    if (!SendHeaderLine(session, line, false)) return Stop(session, ending::kChannelFailure);
  } while (!line.empty());
  BodySender body(session, session.account().Burst);
  while (!reader.AtEnd()) {
    line = NormalBodyLine(reader.ReadSpoolLine());
    if (reader.Failed()) return false;
    if (!body.SendBodyLine(line, reader.AtEnd())) return Stop(session, ending::kChannelFailure);
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
  if (!account.Envelope.empty())
    sender = account.Envelope;
  else if (!account.Redirect.empty())
    sender = account.Redirect;
  t->sender = sender;
  session.state().SmtpSentRcvdField.Set("Mail from: " + sender);
  session.log().Write(LogLevel::kMessageAction, "Mail from: <" + sender + ">");
  return "MAIL FROM:<" + sender + ">";
}

void ShowRecipient(SmtpSession& session, std::string_view line) {
  std::string recipient(line.substr(8, kMaxBatchedAddressBytes));
  std::string shown;
  for (char c : recipient) {
    if (c != '<' && c != '>') shown += c;
  }
  session.state().SmtpInfoField.Set("Mail to: " + shown);
  session.log().Write(LogLevel::kMessageAction, "Mail to: " + recipient);
}

// What an ending of a batched transaction is told of it.
Exchange Said(const BatchedTransaction& t, std::string_view reply = {}) {
  return {.reply = reply, .sender = t.sender, .commands_sent = t.commands_sent};
}

CommandPhase Failed(SmtpSession& session, const Ending& ending, const Exchange& exchange = {}) {
  EndTransaction(session, ending, exchange);
  return CommandPhase::kFailed;
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
    if (!first && reader.AtEnd()) return Failed(session, ending::kCommandsCut, Said(t));
    std::string line = first ? std::move(*first) : reader.ReadSpoolLine();
    first.reset();
    if (reader.Failed()) return Failed(session, ending::kCommandsUnreadable, Said(t));
    if (line == "QUIT") {
      EndTransaction(session, ending::kQuitWithoutData, Said(t));
      return CommandPhase::kQuit;
    }
    if (line.starts_with("MAIL FROM:")) line = MailFromLine(session, line, &t);
    if (line.starts_with("RCPT TO:")) ShowRecipient(session, line);
    if (line == "DATA") {
      state.SmtpSentRcvdField.Set("%SendBytes%");
      session.log().Write(LogLevel::kTrace, line);
    }
    std::string reply;
    ReplyStatus status = ReplyStatus::kFailed;
    if (session.SendCommand(line)) {
      state.SentBytes += line.size() + 1;
      t.commands_sent = true;
      ReplyLog reply_log(session.log());
      status = session.ReadMultiLine("250-", &reply, [&](const std::string& reply_line) {
        state.TotalBytes += reply_line.size() + 2;
        if (reply_line.starts_with("250")) reply_log.Line(LogLevel::kTrace, reply_line);
      });
      reply_log.End();
    }
    if (status != ReplyStatus::kLine || reply.empty())
      return Failed(session, ending::kConnectionLost);
    if (line != "DATA" && reply.starts_with("250 ")) continue;
    if (reply.starts_with("354")) return CommandPhase::kData;
    // Only a refusal for good whose sender was told leaves the message done.
    const bool bounced = EndTransaction(session, ending::kBounced, Said(t, reply));
    if (!bounced || !reply.starts_with('5')) return CommandPhase::kFailed;
    SkipRefusedMessage(reader, line == "DATA");
    return reader.Failed() ? CommandPhase::kFailed : CommandPhase::kBounced;
  }
}

// The data lines, already dot-stuffed, up to and including ".".
bool SendBatchedData(SmtpSession& session, SpoolLineReader& reader) {
  session.BeginData();
  BodySender body(session, session.account().Burst);
  bool in_header = true;
  for (;;) {
    if (reader.AtEnd()) return Stop(session, ending::kDataCut);
    std::string line = reader.ReadSpoolLine();
    if (reader.Failed()) return Stop(session, ending::kDataUnreadable);
    // "." ends the data, in the header too (a message without body).
    if (line == ".") break;
    bool sent = in_header ? SendHeaderLine(session, line, true)
                          : body.SendBodyLine(SignatureRule(line), false);
    if (!sent) return Stop(session, ending::kConnectionLost);
    if (line.empty()) in_header = false;
  }
  if (!body.SendBodyLine(".", false)) return Stop(session, ending::kConnectionLost);
  std::string reply;
  ReplyStatus status = session.ReadReply(&reply);
  if (status == ReplyStatus::kLine && reply.starts_with("250")) {
    session.log().Write(LogLevel::kProgress, reply);
    return true;
  }
  return Stop(session, ending::kRefusedOutside, {.command = ".", .reply = reply});
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
  if (!envelope) return Stop(session, ending::kUnsent);
  if (envelope->sender.empty() || envelope->recipient.empty())
    return Stop(session, ending::kNoEnvelope);
  std::string sender = account.Envelope.empty() ? envelope->sender : account.Envelope;
  const std::string& recipient = envelope->recipient;

  state.SentBytes = 0;
  std::string reply;
  // No command was refused: the log shows an empty one before the reply.
  if (!session.SmtpGreet(HeloDomainOf(sender), &reply))
    return Stop(session, ending::kRefusedOutside, {.reply = reply});
  const NormalStep envelope_steps[] = {
      {"MAIL FROM:<" + sender + ">", "250", "", "Mail from: " + sender,
       "Mail from: <" + sender + ">", &ending::kCommandRefused},
      {"RCPT TO:<" + recipient + ">", "250", "To: " + recipient, "Mail to: " + recipient,
       "Mail to: <" + recipient + ">", &ending::kCommandRefused},
      {"DATA", "354", "", "%SendBytes%", "", &ending::kCommandRefused},
  };
  if (!RunSteps(session, envelope_steps)) return false;
  if (!SendNormalContent(session, reader)) {
    if (reader.Failed()) EndTransaction(session, ending::kDataUnreadable);
    return false;
  }
  const NormalStep end_of_data[] = {{".", "250", "", "", "", &ending::kMessageRefused, true}};
  return RunSteps(session, end_of_data);
}

bool SendBatchedMessage(SmtpSession& session, SpoolLineReader& reader, SpoolRemainder& remainder) {
  RunState& state = session.state();
  state.SentBytes = 0;
  state.SmtpSentRcvdField.Set("%SendBytes%");
  std::string helo = reader.ReadSpoolLine();
  std::string reply;
  // A failed greeting leaves the file unsent: the run must not end as a success.
  if (!session.SmtpGreet(helo.size() > 5 ? std::string_view(helo).substr(5) : "", &reply))
    return Stop(session, ending::kUnsent);
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
    // Unrecorded, a message sent now would go again with this one.
    if (!remainder.DropDoneBefore(rest) || !session.IsOpen()) return false;
    state.SentBytes = 0;
    state.SmtpSentRcvdField.Set("%SendBytes%");
  }
}

}  // namespace postil
