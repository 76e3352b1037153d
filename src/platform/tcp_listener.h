// A listening TCP socket on a loopback address, for the local test and demo
// servers. Owned by one thread, except Shutdown(), which any thread may call
// to make a pending and every later Accept() return at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/transport.h"

namespace postil::platform {

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on the numeric `address` ("127.0.0.1", "::1") at `port` (0: an
  // ephemeral port). False with the reason on failure.
  bool Listen(int port, std::string* err, std::string_view address = "127.0.0.1");
  // The port listened on, 0 when not listening.
  int Port() const { return port_; }
  // The next connection, waiting at most `time_out_ms`; nullptr on a
  // time-out, an error or after Shutdown().
  std::unique_ptr<Transport> Accept(int time_out_ms);
  void Shutdown();
  void Close();

 private:
  std::intptr_t socket_ = -1;  // none: -1; written only by the owner, under mutex_
  int port_ = 0;
  std::mutex mutex_;
  std::atomic<bool> shut_down_{false};
};

}  // namespace postil::platform
