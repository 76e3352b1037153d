// A 127.0.0.1 port that never answers a connect, for the time-out tests of
// the transport. Where the system answers every connect (with a refusal
// when it cannot take it), there is none. Owned by one test thread.
#pragma once

#include <vector>

namespace postil::test {

class SilentPort {
 public:
  SilentPort();
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;

  // 0 when this machine answers every connect after all.
  int port() const { return port_; }

 private:
  std::vector<long long> sockets_;  // the listener and the connects that fill its queue
  int port_ = 0;
};

}  // namespace postil::test
