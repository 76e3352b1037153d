// An in-memory server for session unit tests: on every connect it greets,
// then answers each command line the client sends with what a function
// gives (whole lines with CR LF), at a chosen remote address. One thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/memory_transport.h"

namespace postil::test {

class ReplyingTransport final : public MemoryTransport {
 public:
  using Answer = std::function<std::string(const std::string& command)>;

  ReplyingTransport(std::string greeting, Answer answer, std::string remote_address,
                    std::vector<std::string>* commands)
      : greeting_(std::move(greeting)),
        answer_(std::move(answer)),
        remote_address_(std::move(remote_address)),
        commands_(commands) {}

  bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) override {
    pending_ = greeting_;
    received_.clear();
    return MemoryTransport::Connect(host, port, time_out_ms, err);
  }
  std::int64_t Receive(char* buffer, std::size_t size) override {
    const std::size_t n = pending_.copy(buffer, size);
    pending_.erase(0, n);
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Send(const char* data, std::size_t size) override {
    received_.append(data, size);
    for (std::size_t end = received_.find("\r\n"); end != std::string::npos;
         end = received_.find("\r\n")) {
      const std::string command = received_.substr(0, end);
      received_.erase(0, end + 2);
      commands_->push_back(command);
      pending_ += answer_(command);
    }
    return static_cast<std::int64_t>(size);
  }
  std::string RemoteAddress() const override { return connected_ ? remote_address_ : ""; }

 private:
  std::string greeting_;
  Answer answer_;
  std::string remote_address_;
  std::vector<std::string>* commands_;
  std::string pending_;
  std::string received_;
};

}  // namespace postil::test
