// The byte stream under a line channel. The plain TCP transport lives in the
// platform layer; an encrypted one can be added beside it without touching
// the protocol code. Owned by one thread, except Shutdown(), which any
// thread may call to make every pending and later wait fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace postil {

enum class WaitResult { kReady, kTimeOut, kError };

class Transport {
 public:
  virtual ~Transport() = default;
  virtual bool Connect(std::string_view host, int port, std::string* err) = 0;
  virtual bool IsConnected() const = 0;
  // Waits until the stream is readable (or writable), at most `time_out_ms`.
  virtual WaitResult WaitReadable(int time_out_ms) = 0;
  virtual WaitResult WaitWritable(int time_out_ms) = 0;
  // Bytes received (0: the peer closed), or -1 on an error.
  virtual std::int64_t Receive(char* buffer, std::size_t size) = 0;
  // Bytes taken (maybe fewer than given), or -1 on an error.
  virtual std::int64_t Send(const char* data, std::size_t size) = 0;
  virtual void Shutdown() = 0;
  virtual void Close() = 0;
  // Handle for display and for "is connected" tests; 0 when not connected.
  virtual std::intptr_t Handle() const = 0;
  // Dotted IPv4 address of the local end, as Channel::LocalIpAddress says.
  virtual std::string LocalAddress() const = 0;
};

// Plain TCP with TCP_NODELAY.
std::unique_ptr<Transport> MakeTcpTransport();

}  // namespace postil
