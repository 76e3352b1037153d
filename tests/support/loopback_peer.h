// The far end of a transport test: listens on a loopback address and runs a
// handler on the first connection in a thread of its own, plus bounded
// helpers that move whole byte strings through a Transport. Owned by the
// test's thread; the handler runs on the peer's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/tcp_listener.h"
#include "platform/transport.h"

namespace postil::test {

class LoopbackPeer {
 public:
  using Handler = std::function<void(Transport& connection)>;

  // Listens on `address` at an ephemeral port; `ok()` says whether it could.
  explicit LoopbackPeer(Handler handler, std::string_view address = "127.0.0.1");
  ~LoopbackPeer();  // ends the wait for a connection and joins the thread
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  bool ok() const { return port_ != 0; }
  int port() const { return port_; }
  // Waits until the handler has returned (or no connection came).
  void Join();

 private:
  platform::TcpListener listener_;
  int port_ = 0;
  std::thread thread_;
};

// Sends all of `data`, waiting writable whenever the transport takes
// nothing; false on an error or after `time_limit_ms`. `*stalls` (when
// given) counts the times the transport took nothing; another thread may
// watch it.
bool SendAll(Transport& transport, std::string_view data, int time_limit_ms,
             std::atomic<int>* stalls = nullptr);

// Receives until the stream ends, `limit` bytes arrived, or `time_limit_ms`
// passed. `*last` is the final Receive result (0: clean end, -1: error),
// or 1 when the limit was reached, -3 on the time limit.
std::string ReceiveUpTo(Transport& transport, std::size_t limit, int time_limit_ms,
                        std::int64_t* last = nullptr);

}  // namespace postil::test
