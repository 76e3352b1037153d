#include "pop3/message_spool.h"

#include <optional>
#include <string>

#include "core/channel.h"
#include "core/inbound_spool.h"
#include "core/program_identity.h"
#include "core/run_state.h"
#include "pop3/header_capture.h"
#include "pop3/pop3_pending.h"
#include "pop3/spool_layout.h"

namespace postil {
namespace {

enum class LineRead { kLine, kFailed, kCut };

// One message on its way from the channel into a spool file. The file is
// created once the header is complete (or too long to hold); when it cannot
// be created or written the rest of the message is still read, so the
// dialogue stays in step for the next command.
class MessageCopy {
 public:
  MessageCopy(Pop3Context& context, std::string_view recipient, bool request_line,
              const CopyBound& bound)
      : context_(context), recipient_(recipient), request_line_(request_line), bound_(bound) {}

  CopyResult Run() {
    bool body_follows = false;
    if (!CopyHeader(&body_follows)) return Failure();
    OpenFile();
    Write(held_);
    held_.clear();
    if (body_follows) {
      if (!CopyBody()) return Failure();
    } else {
      // A message without an empty line after its header: the header, one
      // empty line and the final ".".
      Write("\n.\n");
    }
    Write("QUIT\n");
    return Hold();
  }

 private:
  // Reads the next piece of a line and counts it; a piece that ends its
  // line gets its LF. A line cut short by the peer closing is a failure as
  // well: the message is incomplete. A message that runs past its bound,
  // or a stop request, cuts the copy at once: a server that never ends a
  // message must neither fill the disk nor hold the run.
  LineRead Next() {
    if (context_.state.ExitRequested) return Cut();
    Channel& channel = context_.channel;
    const ReadResult result = channel.ReadLine(&line_);
    if (result != ReadResult::kLine && result != ReadResult::kPiece) return LineRead::kFailed;
    ends_line_ = result == ReadResult::kLine;
    const std::size_t line_end = ends_line_ ? 1 : 0;
    context_.state.TotalBytes += line_.size() + 2 * line_end;
    context_.state.MessageBytesReceived += line_.size() + line_end;
    copied_ += line_.size() + line_end;
    if (bound_.max_bytes > 0 && copied_ > bound_.max_bytes) {
      context_.log.Write(LogLevel::kFailure, bound_.cut_text);
      return Cut();
    }
    if (line_end) line_ += '\n';
    return LineRead::kLine;
  }

  LineRead Cut() {
    cut_ = true;
    return LineRead::kCut;
  }

  CopyResult Failure() const { return cut_ ? CopyResult::kCut : CopyResult::kChannelFailure; }

  // Sets `body_follows` when the header ended with an empty line, not ".".
  // A line is judged once its first bytes are known, however the channel
  // cut it: a line that begins with X-QV-Mode is dropped whole, and only a
  // whole "." or empty line ends the header.
  bool CopyHeader(bool* body_follows) {
    std::string start;  // the line's first bytes, before it is judged
    bool judged = true;
    bool dropping = true;  // a piece before the first line start is the reply's rest
    while (Next() == LineRead::kLine) {
      const bool ends = ends_line_;
      if (context_.channel.StartsLine()) {
        start.clear();
        judged = false;
      }
      if (!judged) {
        start += line_;
        if (!ends && start.size() < kSecurityPrefixBytes) continue;
        judged = true;
        if (start == ".\n") return true;
        if (start == "\n") {
          held_ += start;
          *body_follows = true;
          return true;
        }
        dropping = IsSecurityViolation(start);
        if (dropping) context_.log.Write(LogLevel::kDataError, kSecurityViolationText);
        line_.swap(start);
      }
      if (dropping) continue;
      held_ += line_;
      if (held_.size() > kHeaderHoldBytes) {
        OpenFile();
        Write(held_);
        held_.clear();
      }
    }
    return false;
  }

  // Copies up to and including the line "."; a piece "." of a longer line
  // is only text.
  bool CopyBody() {
    bool dot_so_far = false;  // the line read so far is "."
    while (Next() == LineRead::kLine) {
      Write(line_);
      const bool starts = context_.channel.StartsLine();
      if (ends_line_) {
        if (starts ? line_ == ".\n" : dot_so_far && line_ == "\n") return true;
      } else {
        dot_so_far = starts ? line_ == "." : dot_so_far && line_.empty();
      }
    }
    return false;
  }

  void OpenFile() {
    if (attempted_) return;
    attempted_ = true;
    file_ = context_.pending.spool.Create();
    ok_ = file_.has_value();
    Write(SpoolPreamble(context_.account.server, recipient_, context_.state.clock.Now(),
                        request_line_));
  }

  void Write(std::string_view bytes) {
    if (ok_ && !file_->Write(bytes)) ok_ = false;
  }

  // The file gets its name with the session's other files, before QUIT.
  // A file whose writes failed is refused by the session, which says so.
  CopyResult Hold() {
    if (file_ && context_.pending.spool.Hold(std::move(*file_))) return CopyResult::kDone;
    return CopyResult::kSpoolFailure;
  }

  Pop3Context& context_;
  std::string_view recipient_;
  bool request_line_;
  const CopyBound& bound_;
  std::uint64_t copied_ = 0;
  bool cut_ = false;
  std::string line_;
  bool ends_line_ = false;  // a line feed ended line_
  std::string held_;
  std::optional<SpoolFile> file_;
  bool attempted_ = false;
  bool ok_ = false;
};

}  // namespace

CopyResult WriteMessageSpool(Pop3Context& context, std::string_view recipient, bool request_line,
                             const CopyBound& bound) {
  return MessageCopy(context, recipient, request_line, bound).Run();
}

bool WriteStubSpool(Pop3Context& context, std::string_view recipient, std::string_view stub_text) {
  std::optional<SpoolFile> file = context.pending.spool.Create();
  if (!file) return false;
  std::string text =
      SpoolPreamble(context.account.server, recipient, context.state.clock.Now(), false);
  text.append(stub_text).append("\n.\nQUIT\n");
  if (file->Write(text)) return context.pending.spool.Hold(std::move(*file));
  context.log.Write(LogLevel::kFailure, "Error Spoolfile: " + file->Name());
  return false;
}

}  // namespace postil
