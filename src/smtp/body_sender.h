// Sending the lines of a message body: one send per line, or, with burst on,
// gathered into pieces of just over 2,048 bytes. Owned by the SMTP worker,
// one message at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace postil {

class SmtpSession;

class BodySender {
 public:
  // A piece leaves as soon as the buffer holds more than this.
  static constexpr std::size_t kBurstPieceBytes = 2048;

  BodySender(SmtpSession& session, bool burst);

  // SendBodyLine: the line and CR LF, directly or through the burst buffer.
  // `final` (or the line ".") sends the buffer with the line. False once a
  // send failed; nothing more is sent after that.
  bool SendBodyLine(std::string_view line, bool final);
  bool Failed() const { return failed_; }

 private:
  bool Send(std::string_view bytes, std::uint64_t counted);

  SmtpSession& session_;
  const bool burst_;
  std::string burst_buffer_;
  bool failed_ = false;
};

}  // namespace postil
