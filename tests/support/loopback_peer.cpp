#include "support/loopback_peer.h"

#include <algorithm>
#include <chrono>

namespace postil::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Long enough for a loaded machine, short enough that a test that never
// connects still ends.
constexpr int kAcceptLimitMs = 10000;
constexpr std::size_t kReceiveChunk = 65536;  // what the line channel reads at once

int MillisecondsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

}  // namespace

LoopbackPeer::LoopbackPeer(Handler handler, std::string_view address) {
  std::string err;
  if (!listener_.Listen(0, &err, address)) return;
  port_ = listener_.Port();
  thread_ = std::thread([this, handler = std::move(handler)] {
    std::unique_ptr<Transport> connection = listener_.Accept(kAcceptLimitMs);
    if (connection != nullptr) handler(*connection);
  });
}

LoopbackPeer::~LoopbackPeer() {
  listener_.Shutdown();
  Join();
}

void LoopbackPeer::Join() {
  if (thread_.joinable()) thread_.join();
}

bool SendAll(Transport& transport, std::string_view data, int time_limit_ms,
             std::atomic<int>* stalls) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_limit_ms);
  while (!data.empty()) {
    const std::int64_t n = transport.Send(data.data(), data.size());
    if (n < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    if (n > 0) continue;
    if (stalls) ++*stalls;
    const int left = MillisecondsUntil(deadline);
    if (left == 0 || transport.WaitWritable(left) != WaitResult::kReady) return false;
  }
  return true;
}

std::string ReceiveUpTo(Transport& transport, std::size_t limit, int time_limit_ms,
                        std::int64_t* last) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(time_limit_ms);
  std::string received;
  std::int64_t result = 1;
  char buffer[kReceiveChunk];
  while (received.size() < limit) {
    const int left = MillisecondsUntil(deadline);
    const WaitResult waited = left > 0 ? transport.WaitReadable(left) : WaitResult::kTimeOut;
    if (waited != WaitResult::kReady) {
      result = waited == WaitResult::kTimeOut ? -3 : -1;
      break;
    }
    const std::int64_t n =
        transport.Receive(buffer, std::min(sizeof buffer, limit - received.size()));
    if (n == Transport::kReceiveAgain) continue;
    if (n <= 0) {
      result = n;
      break;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
  if (last) *last = result;
  return received;
}

}  // namespace postil::test
