#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/silent_port.h"

namespace postil::test {

// The listener's accept queue is full, so the kernel drops every further
// SYN unanswered.
SilentPort::SilentPort() {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  sockets_.push_back(listener);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener, 0) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  // Fill the queue until one more connect stays unanswered (a few suffice).
  for (int i = 0; i < 4 && port_ == 0; ++i) {
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (filler < 0) return;
    sockets_.push_back(filler);
    // Non-blocking: it completes (or stays pending) in the background.
    (void)::connect(filler, reinterpret_cast<sockaddr*>(&address), size);
    pollfd entry{filler, POLLOUT, 0};
    if (::poll(&entry, 1, 200) == 0) port_ = ntohs(address.sin_port);
  }
}

SilentPort::~SilentPort() {
  for (const long long fd : sockets_) ::close(static_cast<int>(fd));
}

}  // namespace postil::test
