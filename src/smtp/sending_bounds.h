// How long an SMTP server may hold the sender: over the replies of a
// connection, and while it takes the data of a message. Each wait of the
// channel is bounded by the time-out and each exchange by
// Channel::kExchangeTimeOuts of them, but a server that stays just within
// those bounds on every command would hold a file of many commands for as
// many exchanges; these bounds keep the whole in proportion to the work.
// Owned by one SMTP session.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/transport.h"

namespace postil {

// A server that answers at all answers a reply within the time-out, as the
// channel gives up a wait that long. A reply may run late now and then, but
// not one after another: what replies take beyond one time-out each is
// drawn from a reserve of Channel::kExchangeTimeOuts time-outs, which
// quicker replies fill up again. One that dribbles every reply empties it.
class ReplyReserve {
 public:
  // No bound.
  ReplyReserve() = default;
  // `time_out_ms` 0 is no bound either (the channel then only takes what
  // has arrived).
  explicit ReplyReserve(std::int64_t time_out_ms);

  // A line of a reply took `ms` to arrive; `begins_reply` when it is the
  // first after a command (or the greeting's first). False once the
  // reserve is used up, and from then on.
  bool Took(std::int64_t ms, bool begins_reply);
  std::int64_t ReserveSeconds() const { return max_ms_ / 1000; }

 private:
  std::int64_t time_out_ms_ = 0;
  std::int64_t max_ms_ = 0;
  std::int64_t left_ms_ = 0;
  bool used_up_ = false;
};

// Once the data of a message has used up its time-outs, it must go on
// leaving at this average rate (bytes per second): the floor a message
// fetched by POP3 keeps, far below any link mail is sent over, while a
// server that takes a byte at a time is cut off.
inline constexpr std::uint32_t kDataMinimumRate = 1024;

// How long the sends of a message's data may take once `bytes` of it were
// taken: Channel::kExchangeTimeOuts time-outs, plus one second for every
// kDataMinimumRate bytes.
std::int64_t DataAllowedMilliseconds(std::int64_t time_out_ms, std::uint64_t bytes);

// The transport under an SMTP session's channel, unchanged but for one
// thing: between BeginData() and EndData() no wait for room to send goes
// past DataAllowedMilliseconds() of the bytes taken since BeginData(), so a
// server that reads the data slowly cannot hold it for ever. A wait cut so
// reports a time-out, and the send fails.
class DataBoundTransport final : public Transport {
 public:
  explicit DataBoundTransport(std::unique_ptr<Transport> inner);

  // `time_out_ms` 0: no bound.
  void BeginData(int time_out_ms);
  void EndData() { in_data_ = false; }
  // A wait for room was cut by the bound since BeginData().
  bool BoundHit() const { return bound_hit_; }
  // What the data was allowed when the bound cut it.
  std::int64_t AllowedSeconds() const;

  bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) override;
  bool IsConnected() const override { return inner_->IsConnected(); }
  bool SecureAsClient(const TlsClientSettings& settings, int time_out_ms, TlsSessionInfo* info,
                      ConnectError* err) override;
  bool SecureAsServer(const TlsServerSettings& settings, int time_out_ms,
                      std::string* err) override;
  bool IsSecured() const override { return inner_->IsSecured(); }
  WaitResult WaitReadable(int time_out_ms) override { return inner_->WaitReadable(time_out_ms); }
  WaitResult WaitWritable(int time_out_ms) override;
  std::int64_t Receive(char* buffer, std::size_t size) override;
  std::int64_t Send(const char* data, std::size_t size) override;
  void Shutdown() override { inner_->Shutdown(); }
  void Close() override { inner_->Close(); }
  std::intptr_t Handle() const override { return inner_->Handle(); }
  std::string LocalAddress() const override { return inner_->LocalAddress(); }
  std::string RemoteAddress() const override { return inner_->RemoteAddress(); }

 private:
  // Milliseconds left before the bound; 0 or less once it has passed.
  std::int64_t LeftMilliseconds() const;

  std::unique_ptr<Transport> inner_;
  bool in_data_ = false;
  bool bound_hit_ = false;
  int time_out_ms_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::uint64_t bytes_ = 0;
};

}  // namespace postil
