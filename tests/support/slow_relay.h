// A slow link for the tests: a TCP relay on 127.0.0.1 in front of a server
// there, which passes the client's bytes on at once and the server's bytes,
// once slowed, in small pieces at a steady pace, whatever they are (TLS
// records cut anywhere). Serves one connection in a thread of its own, for
// a bounded time; Slow() may be called from any thread.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/transport.h"
#include "support/loopback_peer.h"

namespace postil::test {

class SlowRelay {
 public:
  // Connects each client to `server_port`; once slowed, the server's bytes
  // go on `piece_bytes` at a time, one piece every `piece_ms`.
  SlowRelay(int server_port, std::size_t piece_bytes, int piece_ms);
  SlowRelay(const SlowRelay&) = delete;
  SlowRelay& operator=(const SlowRelay&) = delete;

  bool ok() const { return peer_.ok(); }
  int port() const { return peer_.port(); }
  // From now on the server's bytes go slowly (the handshake before it need
  // not).
  void Slow() { slow_ = true; }

 private:
  void Relay(Transport& client);

  const int server_port_;
  const std::size_t piece_bytes_;
  const int piece_ms_;
  std::atomic<bool> slow_{false};
  LoopbackPeer peer_;  // last: its thread uses the above
};

}  // namespace postil::test
