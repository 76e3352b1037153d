// The base of the in-memory connections of the unit tests and fuzz targets:
// never touches a socket, always connects, is always ready, and cannot be
// secured. A subclass says what the server sends (Receive) and takes what
// the client writes (Send). One thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/transport.h"

namespace postil::test {

class MemoryTransport : public Transport {
 public:
  bool Connect(std::string_view, int, int, ConnectError*) override { return connected_ = true; }
  bool IsConnected() const override { return connected_; }
  bool SecureAsClient(const TlsClientSettings&, int, TlsSessionInfo*, ConnectError* err) override {
    *err = {ConnectFailure::kTlsHandshake, "no TLS in memory"};
    return false;
  }
  bool SecureAsServer(const TlsServerSettings&, int, std::string* err) override {
    *err = "no TLS in memory";
    return false;
  }
  bool IsSecured() const override { return false; }
  WaitResult WaitReadable(int) override { return WaitResult::kReady; }
  WaitResult WaitWritable(int) override { return WaitResult::kReady; }
  void Shutdown() override {}
  void Close() override { connected_ = false; }
  std::intptr_t Handle() const override { return connected_ ? 1 : 0; }
  std::string LocalAddress() const override { return "127.0.0.1"; }
  std::string RemoteAddress() const override { return connected_ ? "127.0.0.1" : ""; }

 protected:
  bool connected_ = false;
};

}  // namespace postil::test
