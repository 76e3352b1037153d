#include "core/channel.h"

#include <algorithm>
#include <cstring>

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
  time_out_ms_ = std::max(time_out_seconds, 0) * 1000;
  std::string err;
  transport_->Connect(host, port, &err);
}

std::intptr_t Channel::ChannelSocket() const { return transport_->Handle(); }

Channel::Fill Channel::FillBuffer() {
  begin_ = end_ = 0;
  switch (transport_->WaitReadable(time_out_ms_)) {
    case WaitResult::kTimeOut:
      return Fill::kTimeOut;
    case WaitResult::kError:
      return Fill::kError;
    case WaitResult::kReady:
      break;
  }
  const std::int64_t n = transport_->Receive(buffer_.get(), kBufferSize);
  if (n < 0) return Fill::kError;
  if (n == 0) return Fill::kClosed;
  end_ = static_cast<std::size_t>(n);
  return Fill::kData;
}

bool Channel::ReadLine(std::string* line) {
  line->clear();
  if (!transport_->IsConnected() || at_end_) return false;
  while (true) {
    if (begin_ == end_) {
      switch (FillBuffer()) {
        case Fill::kData:
          break;
        case Fill::kTimeOut:
          return !line->empty();
        case Fill::kClosed:
          at_end_ = true;
          return !line->empty();
        case Fill::kError:
          line->clear();
          return false;
      }
    }
    const char* data = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const void* lf = std::memchr(data, '\n', available);
    const std::size_t chunk = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : available;
    const std::size_t taken = AppendDroppingCr(line, data, chunk);
    begin_ += taken;
    if (taken < chunk) return true;  // full, and the line goes on
    if (lf) {
      ++begin_;
      return true;
    }
  }
}

bool Channel::WriteLine(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + kLineEnd.size());
  bytes.append(text).append(kLineEnd);
  return WriteRaw(bytes);
}

bool Channel::WriteRaw(std::string_view text) {
  if (!transport_->IsConnected()) return false;
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
  begin_ = end_ = 0;
}

std::string Channel::LocalIpAddress() const { return transport_->LocalAddress(); }

void Channel::Abort() { transport_->Shutdown(); }

}  // namespace postil
