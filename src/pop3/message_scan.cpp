#include "pop3/message_scan.h"

#include "config/config.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "pop3/message_spool.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_reply.h"
#include "pop3/pop3_session.h"
#include "pop3/pop3_stores.h"
#include "pop3/spool_layout.h"
#include "text/date_address.h"

namespace postil {
namespace {

constexpr std::string_view kConnectionLost = "Connection lost";

// Once a RETR has used up its time-outs, the message must go on arriving at
// this average rate (bytes per second): slower than any real link, but a
// server that trickles a byte at a time is cut off.
constexpr std::uint32_t kRetrMinimumRate = 1024;

// How far past the size its server stated a message may run (twice the
// size, and this much more: line ends counted another way, sizes stated
// loosely) before it is taken for one that never ends.
constexpr std::uint64_t kStatedSizeSlack = 64 * 1024;

ScanResult LoseConnection(Pop3Context& context) {
  context.state.Pop3ErrorFlag = true;
  context.log.Write(LogLevel::kFailure, kConnectionLost);
  return ScanResult::kChannelFailure;
}

// A reply line; false on a failure of the channel or a connection closed
// in the middle of the line.
bool ReadWhole(Pop3Context& context, std::string* line) {
  return context.channel.ReadReplyLine(line) == ReadResult::kLine;
}

// One line of the TOP reply, its pieces joined; of a line longer than the
// channel's buffer only the first bytes are kept, and no piece of it can
// end the header. False on a failure of the channel or a closed connection.
bool ReadHeaderLine(Pop3Context& context, std::string* line) {
  Channel& channel = context.channel;
  std::string piece;
  bool started = false;
  bool ends = false;
  line->clear();
  do {
    const ReadResult result = channel.ReadLine(&piece);
    if (result != ReadResult::kLine && result != ReadResult::kPiece) return false;
    ends = result == ReadResult::kLine;
    context.state.TotalBytes += piece.size() + (ends ? 2 : 0);
    // A piece before the first line start is the rest of the reply line.
    started = started || channel.StartsLine();
    if (started && line->size() < Channel::kBufferSize)
      line->append(piece, 0, Channel::kBufferSize - line->size());
  } while (!started || !ends);
  return true;
}

void OnMessageId(Pop3Context& context, ScannedMessage* message) {
  Dupebase& dupebase = context.stores.dupebase;
  const std::string& id = message->header.message_id;
  if (!message->keep || id.empty()) return;
  message->dupe = dupebase.IsKnownMessageId(id);
  message->action = message->dupe ? MessageAction::kSkip : MessageAction::kFetch;
  if (!message->dupe) dupebase.RememberMessageId(id);
}

void KeepHeaderLine(Pop3Context& context, ScannedMessage* message, const std::string& line,
                    std::size_t* line_count) {
  if (message->header_cut || message->header_text.size() + line.size() >= kHeaderHoldBytes) {
    if (!message->header_cut) {
      context.log.Write(LogLevel::kDataError, "Header of Message" + Str(message->number) +
                                                  " longer than" +
                                                  Str(static_cast<std::int64_t>(kHeaderHoldBytes)) +
                                                  " Bytes, rest not kept");
    }
    message->header_cut = true;
    return;
  }
  message->header_text += line;
  message->header_text += '\n';
  if (context.config.FilterActive && ++*line_count <= kLastStoredHeaderLine)
    message->header_lines[*line_count] = line;
}

// The TOP reply's lines up to ".": security rule, kept header, capture.
bool ReadHeader(Pop3Context& context, ScannedMessage* message) {
  RunState& state = context.state;
  std::string line;
  std::size_t line_count = 0;
  while (ReadHeaderLine(context, &line)) {
    if (line == ".") return true;
    if (IsSecurityViolation(line)) {
      context.log.Write(LogLevel::kDataError, kSecurityViolationText);
      continue;
    }
    KeepHeaderLine(context, message, line, &line_count);
    switch (CaptureHeaderLine(line, context.account.use_envelope, &message->header)) {
      case HeaderField::kFrom:
        state.Pop3InfoField.Set("From: " + FormatNameAddr(message->header.from));
        break;
      case HeaderField::kEnvelopeTo:
        message->recipient = message->header.envelope_to;
        break;
      case HeaderField::kMessageId:
        OnMessageId(context, message);
        break;
      default:
        break;
    }
  }
  return false;
}

void ApplyRequests(Pop3Context& context, ScannedMessage* message) {
  const Requestbase& requests = context.stores.requestbase;
  const std::string& id = message->header.message_id;
  if (id.empty()) return;
  if (requests.IsFetchRequested(id)) {
    message->action = MessageAction::kFetch;
    message->requested = true;
    message->keep = !requests.IsDeleteRequested(id);
  }
  if (requests.IsDeleteRequested(id) && !message->requested) {
    message->action = MessageAction::kDelete;
    message->requested = true;
    context.log.Write(
        LogLevel::kMessageAction,
        "Deleting:" + id + DetailBlock(message->header.from, message->header.subject));
  }
}

void Decide(Pop3Context& context, ScannedMessage* message) {
  ApplyRequests(context, message);
  if (message->requested) return;
  if (message->action == MessageAction::kSkip) {
    context.log.Write(LogLevel::kProgress, "Message" + Str(message->number) + " (" +
                                               FormatNameAddr(message->header.from) +
                                               ") is a dupe, skipped");
  }
  const long long limit = context.account.max_len;
  if (message->action == MessageAction::kFetch && limit > 0 && message->size > limit)
    message->action = MessageAction::kTooLong;
  if (context.config.FilterActive && !message->dupe) ApplyFilterVerdict(context, message);
}

void WriteTooLongStub(Pop3Context& context, const ScannedMessage& message) {
  context.state.Pop3SentRcvdField.Set("Message" + Str(message.number) + " too long");
  std::string stub = StubText(kTooLongSummary, message.size, message.header_text);
  context.log.Write(LogLevel::kMessageAction,
                    "Message to long: " + message.header.message_id +
                        DetailBlock(message.header.from, message.header.subject));
  WriteStubSpool(context, message.recipient, stub);
}

ScanResult CarryOut(Pop3Context& context, const ScannedMessage& message, std::size_t dupe_mark) {
  switch (message.action) {
    case MessageAction::kFetch:
      return FetchMessage(context, message, dupe_mark);
    case MessageAction::kSkip:
      context.state.Pop3SentRcvdField.Set("Skipping Message" + Str(message.number));
      return ScanResult::kGoOn;
    case MessageAction::kTooLong:
      WriteTooLongStub(context, message);
      return ScanResult::kGoOn;
    case MessageAction::kDelete:
      context.state.Pop3SentRcvdField.Set("Killing Message" + Str(message.number));
      return DeleteMessage(context, message.number, false, message.header.message_id,
                           message.requested);
  }
  return ScanResult::kGoOn;
}

CopyBound MessageBound(const Pop3Context& context, const ScannedMessage& message) {
  CopyBound bound;
  const std::int64_t stated =
      message.size > 0 ? message.size : static_cast<std::int64_t>(context.state.MailboxSize);
  if (stated > 0) {
    bound.max_bytes = 2 * static_cast<std::uint64_t>(stated) + kStatedSizeSlack;
    bound.cut_text = "Message" + Str(message.number) + " longer than stated (" +
                     std::to_string(stated) + " Bytes), not fetched";
  }
  // A message the size limit let through on its stated size is held to the
  // limit, unless the host asked for it whole.
  const std::int64_t limit = context.account.max_len;
  if (limit > 0 && !message.requested && message.size > 0 && message.size <= limit &&
      (bound.max_bytes == 0 || static_cast<std::uint64_t>(limit) < bound.max_bytes)) {
    bound.max_bytes = static_cast<std::uint64_t>(limit);
    bound.cut_text = "Message" + Str(message.number) + " longer than" + Str(limit) +
                     " Bytes (Pop3MaxLen), not fetched";
  }
  return bound;
}

}  // namespace

ScanResult ScanMessage(Pop3Context& context, int number) {
  RunState& state = context.state;
  state.LineEndIsLf = true;
  ScannedMessage message;
  message.number = number;
  message.recipient = context.account.envelope;
  message.keep = context.account.keep_on_server;
  message.header_lines.assign(kHeaderLineTableSize, std::string());
  const std::size_t dupe_mark = context.stores.dupebase.Mark();

  std::string command = "TOP" + Str(number) + " 0";
  std::string reply;
  const ReadResult read = context.channel.WriteLine(command) ? context.channel.ReadReplyLine(&reply)
                                                             : ReadResult::kFailed;
  if (!HasText(read)) return LoseConnection(context);
  state.TotalBytes += reply.size() + 2;
  if (!IsOkReply(reply)) {
    state.Pop3ErrorFlag = true;
    context.log.Write(LogLevel::kFailure, command);
    context.log.Write(LogLevel::kFailure, reply);
    return ScanResult::kStopMailbox;
  }
  message.size = ParseTopSize(reply);
  state.MessageSize = static_cast<std::uint64_t>(message.size);
  if (read == ReadResult::kCutAtEnd || !ReadHeader(context, &message))
    return LoseConnection(context);

  Decide(context, &message);
  const ScanResult result = CarryOut(context, message, dupe_mark);
  if (result != ScanResult::kGoOn || !context.pending.spool.Failed()) return result;
  // No spool file could be created or written: the rest of the mailbox
  // would be fetched only to fail the same way.
  state.Pop3ErrorFlag = true;
  return ScanResult::kStopMailbox;
}

ScanResult FetchMessage(Pop3Context& context, const ScannedMessage& message,
                        std::size_t dupe_mark) {
  RunState& state = context.state;
  // After a stop request no copy is begun: the session ends at its commit.
  if (state.ExitRequested) {
    context.stores.dupebase.ForgetSince(dupe_mark);
    return ScanResult::kGoOn;
  }
  state.LineEndIsLf = true;
  std::string command = "RETR" + Str(message.number);
  std::string reply;
  CopyResult copied = CopyResult::kChannelFailure;
  bool refused = false;
  const bool sent = context.channel.WriteLine(command);
  context.channel.AllowTransferRate(kRetrMinimumRate);
  if (sent && ReadWhole(context, &reply)) {
    state.TotalBytes += reply.size() + 2;
    refused = !IsOkReply(reply);
    if (refused) {
      context.log.Write(LogLevel::kFailure, command);
      context.log.Write(LogLevel::kFailure, reply);
    } else {
      state.MessageBytesReceived = 0;
      state.Pop3SentRcvdField.Set("%RcvdBytes%");
      copied = WriteMessageSpool(context, message.recipient,
                                 message.requested && context.config.HostRelease > 0,
                                 MessageBound(context, message));
    }
  }
  const CapturedHeader& header = message.header;
  std::string text = "Message" + Str(message.number) + " " + header.message_id +
                     DetailBlock(header.from, header.subject);
  if (!refused && copied == CopyResult::kDone) {
    context.log.Write(LogLevel::kProgress, text);
    if (message.requested) context.pending.fetched_requests.push_back(header.message_id);
    return DeleteMessage(context, message.number, message.keep, header.message_id, false);
  }
  // The message stays on the server, and it is no dupe at the next run.
  context.stores.dupebase.ForgetSince(dupe_mark);
  if (copied == CopyResult::kCut && state.ExitRequested) return ScanResult::kChannelFailure;
  state.Pop3ErrorFlag = true;
  const bool lost = !refused && copied == CopyResult::kChannelFailure;
  if (lost) context.log.Write(LogLevel::kFailure, kConnectionLost);
  context.log.Write(LogLevel::kFailure, text);
  // A cut message leaves the dialogue out of step, as a lost connection does.
  return lost || copied == CopyResult::kCut ? ScanResult::kChannelFailure : ScanResult::kGoOn;
}

ScanResult DeleteMessage(Pop3Context& context, int number, bool keep, const std::string& message_id,
                         bool requested) {
  if (keep) return ScanResult::kGoOn;
  RunState& state = context.state;
  state.LineEndIsLf = true;
  state.Pop3SentRcvdField.Set("Deleting Message" + Str(number));
  std::string reply;
  const bool channel_ok = Pop3Command(context, "DELE" + Str(number), &reply) == ReadResult::kLine;
  state.Pop3SentRcvdField.Set(reply);
  if (requested) context.pending.deleted_requests.push_back(message_id);
  if (channel_ok) return ScanResult::kGoOn;
  state.Pop3ErrorFlag = true;
  return ScanResult::kChannelFailure;
}

}  // namespace postil
