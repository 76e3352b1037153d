// The network line channel: a TCP connection read and written line by line,
// with one time-out for every wait. Owned and used by one worker; another
// thread may only Abort() it (through the run state's ConnectionSlot), which
// makes the pending and every later wait fail at once. Only the owner closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/run_state.h"
#include "core/transport.h"

namespace postil {

class Channel final : public Abortable {
 public:
  // The receive buffer and the longest line ReadLine returns in one piece.
  static constexpr std::size_t kBufferSize = 65536;

  Channel();
  explicit Channel(std::unique_ptr<Transport> transport);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Resolves `host` (first IPv4 address) and connects; never fails visibly:
  // an unconnected channel fails every read and write.
  void OpenChannel(std::string_view host, int port, int time_out_seconds);
  // Non-zero while a connection is open.
  std::intptr_t ChannelSocket() const;

  // The next line without its LF, every CR dropped, at most kBufferSize
  // bytes (the rest of a longer line comes with the next call). A time-out
  // after some bytes gives them as the line. False with an empty line on a
  // time-out before any byte, a socket error, an abort or an unconnected
  // channel. When the peer has closed, sets AtEnd() and returns the last
  // unended text with true; when nothing was left, and on every later call,
  // an empty line with false.
  bool ReadLine(std::string* line);
  // The text and CR LF, in one send.
  bool WriteLine(std::string_view text);
  // The text exactly as given, waiting for room at most the time-out each
  // time. False on a time-out, a socket error, an abort or an unconnected
  // channel; the rest of the text is then not sent.
  bool WriteRaw(std::string_view text);
  // Closing an unconnected channel does nothing.
  void CloseChannel();

  bool AtEnd() const { return at_end_; }
  // Dotted IPv4 address of the local end; "0.0.0.1" when the socket layer
  // cannot tell, "0.0.0.0" on any other error.
  std::string LocalIpAddress() const;

  // Any thread: shuts the connection down, so the owner's pending and later
  // waits fail at once. The owner still closes.
  void Abort() override;

 private:
  enum class Fill { kData, kTimeOut, kClosed, kError };
  // Waits once and receives into the emptied buffer.
  Fill FillBuffer();

  std::unique_ptr<Transport> transport_;
  int time_out_ms_ = 0;
  bool at_end_ = false;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};

}  // namespace postil
