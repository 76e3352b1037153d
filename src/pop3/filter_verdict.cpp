// ApplyFilterVerdict of message_scan.h: the mail filter's verdict carried out.
#include <exception>

#include "config/config.h"
#include "core/run_state.h"
#include "filter/filter_eval.h"
#include "platform/sound.h"
#include "pop3/message_scan.h"
#include "pop3/message_spool.h"
#include "pop3/pop3_reply.h"
#include "pop3/spool_layout.h"
#include "text/date_address.h"

namespace postil {
namespace {

constexpr std::string_view kKillSound = "PLONK.WAV";

FilterVerdict AskFilter(Pop3Context& context, const ScannedMessage& message) {
  MessageView view;
  view.To = FormatAddrComment(message.header.to);
  view.From = FormatAddrComment(message.header.from);
  view.Subject = message.header.subject;
  view.MessageId = message.header.message_id;
  view.HeaderLines = &message.header_lines;
  view.Size = message.size;
  try {
    return DecideFilterVerdict(context.rules, view, context.state.clock.Now());
  } catch (const std::exception&) {
    // A failure inside the filter ends the step without a verdict.
    return {};
  }
}

void LogVerdict(Pop3Context& context, std::string_view label, const ScannedMessage& message,
                const FilterVerdict& verdict) {
  context.log.Write(LogLevel::kMessageAction,
                    std::string(label) + message.header.message_id +
                        DetailBlock(message.header.from, message.header.subject, verdict.reason));
}

void WriteHeaderStub(Pop3Context& context, const ScannedMessage& message) {
  std::string stub = context.config.HostRelease > 0
                         ? StubText(kFilteredSummary, message.size, message.header_text)
                         : message.header_text;
  WriteStubSpool(context, message.recipient, stub);
}

}  // namespace

void ApplyFilterVerdict(Pop3Context& context, ScannedMessage* message) {
  FilterVerdict verdict = AskFilter(context, *message);
  switch (verdict.kind) {
    case FilterVerdict::Kind::kNone:
      return;
    case FilterVerdict::Kind::kFetch:
      message->action = MessageAction::kFetch;
      return;
    case FilterVerdict::Kind::kSkip:
      message->action = MessageAction::kSkip;
      LogVerdict(context, "Filter: ", *message, verdict);
      return;
    case FilterVerdict::Kind::kHeaderOnly:
      message->action = MessageAction::kSkip;
      WriteHeaderStub(context, *message);
      LogVerdict(context, "Header: ", *message, verdict);
      return;
    case FilterVerdict::Kind::kKill:
      message->action = MessageAction::kDelete;
      ++context.state.KillCount;
      LogVerdict(context, "Killing: ", *message, verdict);
      platform::PlaySoundFile(kKillSound);
      return;
    case FilterVerdict::Kind::kRedirect:
      message->recipient = verdict.recipient;
      return;
  }
}

}  // namespace postil
