#include "core/channel.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace postil {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Appends `data` to `line` without its CRs while the line has room; CRs
// are taken even when it is full. Returns the bytes taken.
std::size_t AppendDroppingCr(std::string* line, const char* data, std::size_t size) {
  std::size_t pos = 0;
  while (pos < size) {
    if (data[pos] == '\r') {
      ++pos;
      continue;
    }
    const std::size_t room = Channel::kBufferSize - line->size();
    if (room == 0) break;
    const void* cr = std::memchr(data + pos, '\r', size - pos);
    const std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : size;
    const std::size_t span = std::min(stop - pos, room);
    line->append(data + pos, span);
    pos += span;
  }
  return pos;
}

}  // namespace

Channel::Channel() : Channel(MakeTcpTransport()) {}

Channel::Channel(std::unique_ptr<Transport> transport)
    : transport_(std::move(transport)), buffer_(std::make_unique<char[]>(kBufferSize)) {}

Channel::~Channel() { CloseChannel(); }

void Channel::OpenChannel(std::string_view host, int port, int time_out_seconds) {
  CloseChannel();
  time_out_ms_ = std::max(time_out_seconds, kShortestTimeOutSeconds) * 1000;
  connect_error_ = {};
  tls_info_ = {};
  transport_->Connect(host, port, time_out_ms_, &connect_error_);
  StartExchange();
}

bool Channel::SecureChannel(const TlsClientSettings& settings) {
  if (begin_ != end_) {
    connect_error_ = {ConnectFailure::kTlsHandshake, "data arrived before the handshake"};
    return false;
  }
  const bool secured = transport_->SecureAsClient(settings, time_out_ms_, &tls_info_, &connect_error_);
  StartExchange();
  return secured;
}

void Channel::StartExchange() {
  exchange_start_ = std::chrono::steady_clock::now();
  exchange_bytes_ = 0;
  transfer_rate_ = 0;
}

void Channel::AllowTransferRate(std::uint32_t bytes_per_second) { transfer_rate_ = bytes_per_second; }

void Channel::SetBoundNotice(std::function<void(std::int64_t)> notice) {
  bound_notice_ = std::move(notice);
}

std::int64_t Channel::AllowedMilliseconds() const {
  std::int64_t allowed = static_cast<std::int64_t>(kExchangeTimeOuts) * time_out_ms_;
  if (transfer_rate_ > 0) allowed += static_cast<std::int64_t>(exchange_bytes_ * 1000 / transfer_rate_);
  return allowed;
}

int Channel::MillisecondsToBound() const {
  const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - exchange_start_);
  const std::int64_t left = AllowedMilliseconds() - used.count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, std::numeric_limits<int>::max()));
}

std::intptr_t Channel::ChannelSocket() const { return transport_->Handle(); }

Channel::Fill Channel::FillBuffer() {
  begin_ = end_ = 0;
  // A readable TLS stream may still hold no whole record: the bytes that
  // arrived are progress all the same, as they are without TLS, where they
  // could be handed out at once. So the time-out runs from the last arrival.
  auto wait_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_out_ms_);
  std::int64_t n = Transport::kReceiveAgain;
  while (n == Transport::kReceiveAgain) {
    const int to_bound = MillisecondsToBound();
    if (to_bound == 0) return Fill::kBound;
    const auto to_time_out =
        std::chrono::ceil<std::chrono::milliseconds>(wait_end - std::chrono::steady_clock::now());
    const int wait_ms =
        static_cast<int>(std::clamp<std::int64_t>(to_time_out.count(), 0, to_bound));
    switch (transport_->WaitReadable(wait_ms)) {
      case WaitResult::kTimeOut:
        return MillisecondsToBound() == 0 ? Fill::kBound : Fill::kTimeOut;
      case WaitResult::kError:
        return Fill::kError;
      case WaitResult::kReady:
        break;
    }
    n = transport_->Receive(buffer_.get(), kBufferSize);
    wait_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_out_ms_);
  }
  if (n < 0) return Fill::kError;
  if (n == 0) return Fill::kClosed;
  end_ = static_cast<std::size_t>(n);
  exchange_bytes_ += end_;
  return Fill::kData;
}

ReadResult Channel::ReadLine(std::string* line) { return Read(line, AtTimeOut::kLineGoesOn); }

ReadResult Channel::Read(std::string* line, AtTimeOut at_time_out) {
  line->clear();
  bound_hit_ = false;
  if (!transport_->IsConnected()) return ReadResult::kFailed;
  if (at_end_) return ReadResult::kClosed;
  // Only a call that hands out bytes moves on in the line.
  starts_line_ = !in_line_;
  const auto piece_or = [&](ReadResult nothing, ReadResult text) {
    if (line->empty()) return nothing;
    in_line_ = true;
    return text;
  };
  while (true) {
    if (begin_ == end_) {
      switch (FillBuffer()) {
        case Fill::kData:
          break;
        case Fill::kTimeOut:
          if (at_time_out == AtTimeOut::kLineGoesOn) {
            return piece_or(ReadResult::kTimedOut, ReadResult::kPiece);
          }
          in_line_ = false;
          return line->empty() ? ReadResult::kTimedOut : ReadResult::kLine;
        case Fill::kClosed:
          at_end_ = true;
          return piece_or(ReadResult::kClosed, ReadResult::kCutAtEnd);
        case Fill::kBound:
          bound_hit_ = true;
          in_line_ = in_line_ || !line->empty();  // what was taken is dropped
          if (bound_notice_) bound_notice_(AllowedMilliseconds() / 1000);
          line->clear();
          return ReadResult::kFailed;
        case Fill::kError:
          line->clear();
          return ReadResult::kFailed;
      }
    }
    const char* data = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const void* lf = std::memchr(data, '\n', available);
    const std::size_t chunk = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : available;
    const std::size_t taken = AppendDroppingCr(line, data, chunk);
    begin_ += taken;
    if (taken < chunk) {  // full, and the line goes on
      in_line_ = true;
      return ReadResult::kPiece;
    }
    if (lf) {
      ++begin_;
      in_line_ = false;
      return ReadResult::kLine;
    }
  }
}

ReadResult Channel::ReadReplyLine(std::string* line) {
  // A reply the time-out cut short is taken as it is; were its line left
  // open, the next reply would be taken for its rest and dropped.
  ReadResult result;
  do {
    result = Read(line, AtTimeOut::kLineEnds);
    if (!HasText(result)) return result;
  } while (!starts_line_);  // the rest of an earlier line is no reply
  std::string rest;
  while (result == ReadResult::kPiece) {
    switch (Read(&rest, AtTimeOut::kLineEnds)) {
      case ReadResult::kPiece:
        break;
      case ReadResult::kLine:
      case ReadResult::kTimedOut:
        return ReadResult::kLine;
      case ReadResult::kCutAtEnd:
      case ReadResult::kClosed:
        return ReadResult::kCutAtEnd;
      case ReadResult::kFailed:
        line->clear();
        return ReadResult::kFailed;
    }
  }
  return result;
}

bool Channel::WriteLine(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + kLineEnd.size());
  bytes.append(text).append(kLineEnd);
  return WriteRaw(bytes);
}

bool Channel::WriteRaw(std::string_view text) {
  if (!transport_->IsConnected()) return false;
  StartExchange();
  while (true) {
    const std::int64_t n = transport_->Send(text.data(), text.size());
    if (n < 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
    if (text.empty()) return true;
    if (transport_->WaitWritable(time_out_ms_) != WaitResult::kReady) return false;
  }
}

void Channel::CloseChannel() {
  transport_->Close();
  at_end_ = false;
  in_line_ = false;
  starts_line_ = true;
  begin_ = end_ = 0;
}

std::string Channel::LocalIpAddress() const { return transport_->LocalAddress(); }

std::string Channel::RemoteIpAddress() const { return transport_->RemoteAddress(); }

void Channel::Abort() { transport_->Shutdown(); }

std::string ExchangeBoundText(std::int64_t allowed_seconds) {
  return "Reply not complete within " + std::to_string(allowed_seconds) +
         " seconds, connection given up";
}

}  // namespace postil
