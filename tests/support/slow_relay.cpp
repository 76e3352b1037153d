#include "support/slow_relay.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace postil::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Long enough for any test's exchange, short enough that a test that goes
// wrong still ends.
constexpr int kRelayLimitMs = 20000;
constexpr int kIdleMs = 2;
constexpr std::size_t kChunk = 65536;

// Bytes `from` has now, or nothing; false once it has closed or failed.
bool TakeReady(Transport& from, std::string* bytes) {
  if (from.WaitReadable(0) != WaitResult::kReady) return true;
  char buffer[kChunk];
  const std::int64_t n = from.Receive(buffer, sizeof buffer);
  if (n == Transport::kReceiveAgain) return true;
  if (n <= 0) return false;
  bytes->append(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

SlowRelay::SlowRelay(int server_port, std::size_t piece_bytes, int piece_ms)
    : server_port_(server_port),
      piece_bytes_(std::max<std::size_t>(piece_bytes, 1)),
      piece_ms_(piece_ms),
      peer_([this](Transport& client) { Relay(client); }) {}

void SlowRelay::Relay(Transport& client) {
  std::unique_ptr<Transport> server = MakeTcpTransport();
  ConnectError err;
  if (!server->Connect("127.0.0.1", server_port_, kRelayLimitMs, &err)) return;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kRelayLimitMs);
  std::string to_server;
  std::string to_client;
  bool server_open = true;
  while (SteadyClock::now() < deadline) {
    if (!TakeReady(client, &to_server)) return;
    if (!to_server.empty() && !SendAll(*server, to_server, kRelayLimitMs)) return;
    to_server.clear();
    if (server_open) server_open = TakeReady(*server, &to_client);
    if (to_client.empty()) {
      if (!server_open) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(kIdleMs));
      continue;
    }
    const bool slow = slow_;
    const std::size_t piece = slow ? std::min(piece_bytes_, to_client.size()) : to_client.size();
    if (!SendAll(client, std::string_view(to_client).substr(0, piece), kRelayLimitMs)) return;
    to_client.erase(0, piece);
    if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(piece_ms_));
  }
}

}  // namespace postil::test
