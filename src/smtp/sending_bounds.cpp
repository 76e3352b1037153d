#include "smtp/sending_bounds.h"

#include <algorithm>
#include <limits>

#include "core/channel.h"

namespace postil {

ReplyReserve::ReplyReserve(std::int64_t time_out_ms)
    : time_out_ms_(time_out_ms),
      max_ms_(Channel::kExchangeTimeOuts * time_out_ms),
      left_ms_(max_ms_) {}

bool ReplyReserve::Took(std::int64_t ms, bool begins_reply) {
  if (time_out_ms_ <= 0) return true;
  if (used_up_) return false;
  if (begins_reply) left_ms_ = std::min(left_ms_ + time_out_ms_, max_ms_);
  left_ms_ -= ms;
  used_up_ = left_ms_ < 0;
  return !used_up_;
}

std::int64_t DataAllowedMilliseconds(std::int64_t time_out_ms, std::uint64_t bytes) {
  return Channel::kExchangeTimeOuts * time_out_ms +
         static_cast<std::int64_t>(bytes * 1000 / kDataMinimumRate);
}

DataBoundTransport::DataBoundTransport(std::unique_ptr<Transport> inner)
    : inner_(std::move(inner)) {}

void DataBoundTransport::BeginData(int time_out_ms) {
  in_data_ = time_out_ms > 0;
  bound_hit_ = false;
  time_out_ms_ = time_out_ms;
  start_ = std::chrono::steady_clock::now();
  bytes_ = 0;
}

std::int64_t DataBoundTransport::AllowedSeconds() const {
  return DataAllowedMilliseconds(time_out_ms_, bytes_) / 1000;
}

std::int64_t DataBoundTransport::LeftMilliseconds() const {
  const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  return DataAllowedMilliseconds(time_out_ms_, bytes_) - used.count();
}

bool DataBoundTransport::Connect(std::string_view host, int port, int time_out_ms,
                                 ConnectError* err) {
  in_data_ = false;
  return inner_->Connect(host, port, time_out_ms, err);
}

bool DataBoundTransport::SecureAsClient(const TlsClientSettings& settings, int time_out_ms,
                                        TlsSessionInfo* info, ConnectError* err) {
  return inner_->SecureAsClient(settings, time_out_ms, info, err);
}

bool DataBoundTransport::SecureAsServer(const TlsServerSettings& settings, int time_out_ms,
                                        std::string* err) {
  return inner_->SecureAsServer(settings, time_out_ms, err);
}

WaitResult DataBoundTransport::WaitWritable(int time_out_ms) {
  if (!in_data_) return inner_->WaitWritable(time_out_ms);
  const std::int64_t left = LeftMilliseconds();
  if (left <= 0) {
    bound_hit_ = true;
    return WaitResult::kTimeOut;
  }
  const int wait_ms = static_cast<int>(
      std::min<std::int64_t>({time_out_ms, left, std::numeric_limits<int>::max()}));
  const WaitResult result = inner_->WaitWritable(wait_ms);
  if (result == WaitResult::kTimeOut && wait_ms < time_out_ms && LeftMilliseconds() <= 0)
    bound_hit_ = true;
  return result;
}

std::int64_t DataBoundTransport::Receive(char* buffer, std::size_t size) {
  return inner_->Receive(buffer, size);
}

std::int64_t DataBoundTransport::Send(const char* data, std::size_t size) {
  const std::int64_t taken = inner_->Send(data, size);
  if (in_data_ && taken > 0) bytes_ += static_cast<std::uint64_t>(taken);
  return taken;
}

}  // namespace postil
