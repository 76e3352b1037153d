// The network line channel: a TCP connection, TLS-secured on request, read
// and written line by line, with one time-out for every wait. Owned and used by one worker; another
// thread may only Abort() it (through the run state's ConnectionSlot), which
// makes the pending and every later wait fail at once. Only the owner closes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/run_state.h"
#include "platform/transport.h"

namespace postil {

enum class ReadResult {
  kLine,      // text a line feed ended: a whole line, or the last piece of one
  kPiece,     // text of a line that goes on: the buffer filled, or a time-out came
  kCutAtEnd,  // the last text before the peer closed, without a line end
  kClosed,    // the peer has closed and nothing is left (also every later read)
  kTimedOut,  // nothing arrived within the time-out
  kFailed,    // a socket error, an abort, the exchange's bound, or no connection
};

// The results that hand out text.
constexpr bool HasText(ReadResult result) {
  return result == ReadResult::kLine || result == ReadResult::kPiece ||
         result == ReadResult::kCutAtEnd;
}

class Channel final : public Abortable {
 public:
  // The receive buffer and the longest line ReadLine returns in one piece.
  static constexpr std::size_t kBufferSize = 65536;

  Channel();
  explicit Channel(std::unique_ptr<Transport> transport);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // No wait of a channel is without a bound, and none so short that no line
  // could arrive: a time-out below this is taken as this.
  static constexpr int kShortestTimeOutSeconds = 1;

  // Resolves `host` and connects to the first of its addresses that answers
  // within the time-out; never fails visibly: an unconnected channel fails
  // every read and write, and LastConnectError() says why. The time-out
  // bounds the connect, the TLS handshake and every wait after them.
  void OpenChannel(std::string_view host, int port, int time_out_seconds);
  // Secures the open connection with TLS (right after opening, or after the
  // protocol's STARTTLS was accepted) and checks the server as `settings`
  // say. Bytes that arrived before it were not protected: their presence
  // fails it. On failure the caller closes; LastConnectError() says why.
  bool SecureChannel(const TlsClientSettings& settings);
  bool IsSecured() const { return transport_->IsSecured(); }
  const TlsSessionInfo& TlsInfo() const { return tls_info_; }
  // Why the last open or securing failed; kNone when it did not.
  const ConnectError& LastConnectError() const { return connect_error_; }
  // Records a failure found by the protocol (no STARTTLS offered).
  void SetConnectError(ConnectError error) { connect_error_ = std::move(error); }
  // The peer has closed the connection (the end of its data was read).
  bool PeerClosed() const { return at_end_; }
  // Non-zero while a connection is open.
  std::intptr_t ChannelSocket() const;

  // The next line without its LF, every CR dropped, at most kBufferSize
  // bytes: a longer line comes in pieces over several calls (kPiece until
  // the one a line feed ends, kLine), and StartsLine() says whether the text
  // begins a line, so that only a whole line is ever taken for a reply or
  // for ".". Every result but kLine, kPiece and kCutAtEnd leaves `line`
  // empty.
  ReadResult ReadLine(std::string* line);
  // A reply line: the first kBufferSize bytes of the next line that starts
  // one; the rest of a longer line is read and dropped, so no piece is ever
  // taken for a reply of its own. A time-out ends the line: the text before
  // it is the reply (kLine), and what comes after it begins a new line.
  // kLine, kCutAtEnd, or a result without text.
  ReadResult ReadReplyLine(std::string* line);
  // The text of the last ReadLine begins a line (not a continuation).
  bool StartsLine() const { return starts_line_; }

  // Every exchange is bounded as a whole, not only each wait: the reads
  // after a write (or after opening, for the greeting) fail once
  // kExchangeTimeOuts time-outs have passed. A transfer of unknown length
  // may extend its bound by one second for every `bytes_per_second` bytes
  // received in the exchange, so that only a trickle is cut.
  static constexpr int kExchangeTimeOuts = 4;
  void AllowTransferRate(std::uint32_t bytes_per_second);
  // The last failed read failed on the exchange's bound.
  bool BoundHit() const { return bound_hit_; }
  // Called by the owner's read that hits the bound, with the seconds the
  // exchange was allowed, so the worker can log why it gives up.
  void SetBoundNotice(std::function<void(std::int64_t allowed_seconds)> notice);
  // The text and CR LF, in one send.
  bool WriteLine(std::string_view text);
  // The text exactly as given, waiting for room at most the time-out each
  // time. False on a time-out, a socket error, an abort or an unconnected
  // channel; the rest of the text is then not sent.
  bool WriteRaw(std::string_view text);
  // Closing an unconnected channel does nothing.
  void CloseChannel();

  // Dotted IPv4 address of the local end; "0.0.0.1" when the socket layer
  // cannot tell, "0.0.0.0" on any other error.
  std::string LocalIpAddress() const;
  // Numeric address of the server; empty when not connected.
  std::string RemoteIpAddress() const;

  // Any thread: shuts the connection down, so the owner's pending and later
  // waits fail at once. The owner still closes.
  void Abort() override;

 private:
  enum class Fill { kData, kTimeOut, kClosed, kError, kBound };
  // What a time-out does to a line that has begun: a line of data goes on
  // after it, a reply line ends there.
  enum class AtTimeOut { kLineGoesOn, kLineEnds };
  ReadResult Read(std::string* line, AtTimeOut at_time_out);
  // Waits until bytes can be handed out, at most the time-out from the last
  // bytes that arrived and never past the exchange's bound, and receives
  // into the emptied buffer.
  Fill FillBuffer();
  // A new exchange begins: its bound starts now, without extension.
  void StartExchange();
  // Milliseconds the exchange is allowed so far, and those left of them.
  std::int64_t AllowedMilliseconds() const;
  int MillisecondsToBound() const;

  std::unique_ptr<Transport> transport_;
  int time_out_ms_ = 0;
  bool at_end_ = false;
  bool in_line_ = false;  // bytes of an unended line were handed out
  bool starts_line_ = true;
  bool bound_hit_ = false;
  std::chrono::steady_clock::time_point exchange_start_;
  std::uint64_t exchange_bytes_ = 0;
  std::uint32_t transfer_rate_ = 0;
  std::function<void(std::int64_t)> bound_notice_;
  ConnectError connect_error_;
  TlsSessionInfo tls_info_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};

// The log text for a read that hit its exchange's bound.
std::string ExchangeBoundText(std::int64_t allowed_seconds);

}  // namespace postil
