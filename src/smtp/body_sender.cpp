#include "smtp/body_sender.h"

#include "core/run_state.h"
#include "smtp/smtp_session.h"

namespace postil {

BodySender::BodySender(SmtpSession& session, bool burst) : session_(session), burst_(burst) {
  burst_buffer_.reserve(2 * kBurstPieceBytes);
}

bool BodySender::SendBodyLine(std::string_view line, bool final) {
  if (failed_) return false;
  if (!burst_) {
    burst_buffer_.assign(line).append("\r\n");
    return Send(burst_buffer_, line.size() + 1);
  }
  // The progress figure counts what was buffered before the last line.
  std::uint64_t buffered = burst_buffer_.size();
  burst_buffer_.append(line).append("\r\n");
  if (final || line == ".") return Send(burst_buffer_, buffered);
  if (burst_buffer_.size() > kBurstPieceBytes) return Send(burst_buffer_, burst_buffer_.size());
  return true;
}

bool BodySender::Send(std::string_view bytes, std::uint64_t counted) {
  // A dead connection must not be fed the rest of a big message, each send
  // waiting for the time-out: the first failure ends the body.
  failed_ = !session_.SendRaw(bytes);
  burst_buffer_.clear();
  if (!failed_) session_.state().SentBytes += counted;
  return !failed_;
}

}  // namespace postil
