#include "support/fake_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace postil::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kReceiveChunk = 65536;
constexpr int kAcceptPollMs = 20;  // how soon Stop() is noticed
constexpr int kSendTimeLimitMs = 10000;
// How long Stop() lets the handlers finish before it cuts the connection.
constexpr int kStopGraceMs = 2000;

int MillisecondsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

FakeConnection::FakeConnection(FakeServer& server, std::unique_ptr<Transport> transport, int index)
    : server_(server), transport_(std::move(transport)), index_(index) {}

FakeConnection::~FakeConnection() { Close(); }

FakeConnection::ReadResult FakeConnection::ReadLine(std::string* line, int time_limit_ms) {
  line->clear();
  if (pending_begin_ == pending_.size() || pending_begin_ >= kReceiveChunk) {
    pending_.erase(0, pending_begin_);
    pending_begin_ = 0;
  }
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_limit_ms);
  std::size_t searched = pending_begin_;
  while (true) {
    const char* data = pending_.data();
    const void* lf = std::memchr(data + searched, '\n', pending_.size() - searched);
    std::size_t end = lf ? static_cast<const char*>(lf) - data : pending_.size();
    const bool whole = lf != nullptr;
    if (!whole && end - pending_begin_ >= kMaxLine) end = pending_begin_ + kMaxLine;
    if (whole || end - pending_begin_ >= kMaxLine || (peer_closed_ && end > pending_begin_)) {
      const std::size_t next = whole ? end + 1 : end;
      if (whole && end > pending_begin_ && data[end - 1] == '\r') --end;
      line->assign(data + pending_begin_, end - pending_begin_);
      pending_begin_ = next;
      Record(*line, {});
      return ReadResult::kLine;
    }
    if (peer_closed_ || closed_) return ReadResult::kClosed;
    searched = pending_.size();
    const ReadResult filled = Fill(MillisecondsUntil(deadline));
    if (filled != ReadResult::kLine) return filled;
  }
}

FakeConnection::ReadResult FakeConnection::Fill(int time_limit_ms) {
  switch (transport_->WaitReadable(time_limit_ms)) {
    case WaitResult::kTimeOut:
      return ReadResult::kTimeOut;
    case WaitResult::kError:
      peer_closed_ = true;
      return ReadResult::kLine;
    case WaitResult::kReady:
      break;
  }
  const std::size_t old_size = pending_.size();
  pending_.resize(old_size + kReceiveChunk);
  const std::int64_t n = transport_->Receive(pending_.data() + old_size, kReceiveChunk);
  pending_.resize(old_size + static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  // kReceiveAgain: a TLS record is not complete yet, the caller waits again.
  if (n == 0 || (n < 0 && n != Transport::kReceiveAgain)) peer_closed_ = true;
  if (n > 0) Record({}, std::string_view(pending_).substr(old_size));
  return ReadResult::kLine;
}

void FakeConnection::Record(std::string_view line, std::string_view bytes) {
  if (!recording_) return;
  std::lock_guard lock(server_.mutex_);
  ConnectionRecord& record = server_.records_[index_];
  if (bytes.empty()) {
    record.lines.emplace_back(line);
  } else {
    record.bytes.append(bytes);
    record.receive_sizes.push_back(bytes.size());
  }
}

bool FakeConnection::SendLine(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + 2);
  bytes.append(text).append("\r\n");
  return SendRaw(bytes);
}

bool FakeConnection::SendRaw(std::string_view bytes) {
  if (closed_) return false;
  if (server_.options_.pace_ms > 0) Stall(server_.options_.pace_ms);
  if (!close_after_armed_ || close_after_left_ > bytes.size()) {
    close_after_left_ -= close_after_armed_ ? bytes.size() : 0;
    return SendAll(bytes);
  }
  const bool sent = SendAll(bytes.substr(0, close_after_left_));
  const bool whole = close_after_left_ == bytes.size();
  ShutdownNow();
  return sent && whole;
}

bool FakeConnection::SendAll(std::string_view bytes) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kSendTimeLimitMs);
  while (!bytes.empty()) {
    // 0: nothing taken yet; the same bytes are offered again once writable.
    const std::int64_t n = transport_->Send(bytes.data(), bytes.size());
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
    if (!bytes.empty() &&
        transport_->WaitWritable(MillisecondsUntil(deadline)) != WaitResult::kReady) {
      return false;
    }
  }
  return true;
}

void FakeConnection::Close() {
  transport_->Close();
  closed_ = true;
}

bool FakeConnection::StartTls() {
  if (closed_) return false;
  std::string err = "handshake cut by the server";
  const bool secured =
      !server_.options_.cut_handshake &&
      transport_->SecureAsServer(server_.options_.tls, kHandshakeTimeLimitMs, &err);
  {
    std::lock_guard lock(server_.mutex_);
    ConnectionRecord& record = server_.records_[index_];
    record.discarded_at_tls.assign(pending_, pending_begin_);
    if (secured) {
      record.secured_from_line = record.lines.size();
    } else {
      record.tls_error = err;
    }
  }
  // Plain bytes sent ahead of the handshake never count as secured input.
  pending_.clear();
  pending_begin_ = 0;
  if (!secured) ShutdownNow();
  return secured;
}

void FakeConnection::Stall(int ms) { server_.WaitStopped(ms); }

void FakeConnection::StallUntilStopped() { server_.WaitStopped(-1); }

void FakeConnection::CloseAfterBytes(std::size_t count) {
  close_after_armed_ = true;
  close_after_left_ = count;
  if (count == 0) ShutdownNow();
}

void FakeConnection::ShutdownNow() {
  transport_->Shutdown();
  closed_ = true;
}

FakeServer::FakeServer(Handler handler, FakeServerOptions options)
    : handler_(std::move(handler)), options_(std::move(options)) {
  std::string err;
  if (!listener_.Listen(options_.port, &err, options_.listen_address)) {
    throw std::runtime_error("fake server cannot listen on " + options_.listen_address + ": " +
                             err);
  }
  port_ = listener_.Port();
  thread_ = std::thread([this] { Serve(); });
}

FakeServer::~FakeServer() { Stop(); }

void FakeServer::Stop() {
  stopping_ = true;
  stop_signal_.notify_all();
  {
    std::unique_lock lock(mutex_);
    const bool drained = stop_signal_.wait_for(lock, std::chrono::milliseconds(kStopGraceMs),
                                               [this] { return serving_done_; });
    if (!drained) {
      cut_ = true;
      if (current_ != nullptr) current_->transport_->Shutdown();
    }
  }
  listener_.Shutdown();
  if (thread_.joinable()) thread_.join();
  listener_.Close();
}

void FakeServer::Serve() {
  // After Stop() the connections already waiting are still served.
  while (true) {
    std::unique_ptr<Transport> transport = listener_.Accept(stopping_ ? 0 : kAcceptPollMs);
    if (!transport) {
      if (stopping_) break;
      continue;
    }
    int index;
    {
      std::lock_guard lock(mutex_);
      index = static_cast<int>(records_.size());
      records_.emplace_back();
    }
    FakeConnection connection(*this, std::move(transport), index);
    {
      std::lock_guard lock(mutex_);
      current_ = &connection;
      if (cut_) connection.transport_->Shutdown();
    }
    if (!options_.implicit_tls || connection.StartTls()) handler_(connection);
    std::lock_guard lock(mutex_);
    current_ = nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    serving_done_ = true;
  }
  stop_signal_.notify_all();
}

void FakeServer::WaitStopped(int ms) {
  std::unique_lock lock(mutex_);
  const auto stopped = [this] { return stopping_.load(); };
  if (ms < 0) {
    stop_signal_.wait(lock, stopped);
  } else {
    stop_signal_.wait_for(lock, std::chrono::milliseconds(ms), stopped);
  }
}

int FakeServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(records_.size());
}

std::vector<ConnectionRecord> FakeServer::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> FakeServer::Lines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const ConnectionRecord& record : records_) {
    lines.insert(lines.end(), record.lines.begin(), record.lines.end());
  }
  return lines;
}

}  // namespace postil::test
