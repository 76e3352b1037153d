// TCP through the transport on loopback sockets: every address in turn,
// IPv6, and the reason a connection failed. No test asks a name server.
#include "platform/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_listener.h"
#include "support/loopback_peer.h"
#include "support/silent_port.h"

namespace postil {
namespace {

using SteadyClock = std::chrono::steady_clock;
using test::LoopbackPeer;
using test::SilentPort;

constexpr int kLimitMs = 10000;  // any single step of a test on a loaded machine

long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

HostResolver Fixed(const std::vector<std::string>& addresses) {
  return [addresses](std::string_view, std::string*) { return addresses; };
}

// A port nobody listens on (at `address`) right now.
int ClosedPort(std::string_view address = "127.0.0.1") {
  platform::TcpListener listener;
  std::string err;
  if (!listener.Listen(0, &err, address)) return 0;
  return listener.Port();  // closed with the listener
}

bool HasIpv6Loopback() {
  platform::TcpListener listener;
  std::string err;
  return listener.Listen(0, &err, "::1");
}

TEST(Transport, ConnectSaysWhyItFailed) {
  SilentPort silent;
  struct Case {
    const char* what;
    HostResolver resolver;
    const char* host;
    int port;
    int time_out_ms;
    ConnectFailure failure;
    const char* detail;  // nullptr: the system's text, not empty
  };
  const HostResolver unknown = [](std::string_view host, std::string* err) {
    *err = "no such host: " + std::string(host);
    return std::vector<std::string>{};
  };
  std::vector<Case> cases = {
      {"port 0", SystemResolve, "127.0.0.1", 0, kLimitMs, ConnectFailure::kNetwork,
       "port out of range"},
      {"port 65536", SystemResolve, "127.0.0.1", 65536, kLimitMs, ConnectFailure::kNetwork,
       "port out of range"},
      {"unknown name", unknown, "pop.example", 110, kLimitMs, ConnectFailure::kNameNotResolved,
       "no such host: pop.example"},
      {"nobody listens", SystemResolve, "127.0.0.1", ClosedPort(), kLimitMs,
       ConnectFailure::kRefused, ""},
      {"resolver gives a name", Fixed({"pop.example"}), "pop.example", 110, kLimitMs,
       ConnectFailure::kNetwork, nullptr},
  };
  if (silent.port() != 0) {
    cases.push_back({"nobody answers", SystemResolve, "127.0.0.1", silent.port(), 300,
                     ConnectFailure::kTimedOut, ""});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto client = MakeTcpTransport(c.resolver);
    ConnectError err;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(client->Connect(c.host, c.port, c.time_out_ms, &err));
    EXPECT_LT(MillisecondsSince(start), c.time_out_ms + 2000);
    EXPECT_EQ(err.failure, c.failure);
    if (c.detail != nullptr) {
      EXPECT_EQ(err.detail, c.detail);
    } else {
      EXPECT_FALSE(err.detail.empty());
    }
    EXPECT_FALSE(client->IsConnected());
    EXPECT_EQ(client->Handle(), 0);
  }
  if (silent.port() == 0) GTEST_SKIP() << "this machine answers connects to a full queue";
}

TEST(Transport, TriesEveryAddressInTurn) {
  LoopbackPeer peer([](Transport& server) { test::SendAll(server, "+OK\r\n", kLimitMs); });
  ASSERT_TRUE(peer.ok());
  std::vector<std::string> asked;
  auto client = MakeTcpTransport([&](std::string_view host, std::string*) {
    asked.emplace_back(host);
    // ::1 refuses (or is missing); then 127.0.0.1 answers.
    return std::vector<std::string>{"::1", "127.0.0.1"};
  });
  ConnectError err;
  ASSERT_TRUE(client->Connect("pop.example", peer.port(), kLimitMs, &err)) << err.detail;
  EXPECT_EQ(asked, std::vector<std::string>{"pop.example"});
  EXPECT_EQ(client->RemoteAddress(), "127.0.0.1");
  EXPECT_EQ(client->LocalAddress(), "127.0.0.1");
  EXPECT_NE(client->Handle(), 0);
  EXPECT_EQ(test::ReceiveUpTo(*client, 5, kLimitMs), "+OK\r\n");
}

TEST(Transport, ASilentAddressTakesOnlyItsShareOfTheTime) {
  SilentPort silent;
  if (silent.port() == 0) GTEST_SKIP() << "this machine answers connects to a full queue";
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback address";
  platform::TcpListener answering;
  std::string listen_err;
  if (!answering.Listen(silent.port(), &listen_err, "::1")) {
    GTEST_SKIP() << "the silent port is taken on ::1: " << listen_err;
  }
  auto client = MakeTcpTransport(Fixed({"127.0.0.1", "::1"}));
  ConnectError err;
  const auto start = SteadyClock::now();
  ASSERT_TRUE(client->Connect("pop.example", silent.port(), 2000, &err)) << err.detail;
  const long long elapsed = MillisecondsSince(start);
  EXPECT_EQ(client->RemoteAddress(), "::1");
  EXPECT_GE(elapsed, 900);  // half of the time for the first of two
  EXPECT_LT(elapsed, 1900);
}

TEST(Transport, Ipv6LoopbackCarriesBytes) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback address";
  std::string received;
  LoopbackPeer peer(
      [&](Transport& server) {
        received = test::ReceiveUpTo(server, 5, kLimitMs);
        test::SendAll(server, "+OK\r\n", kLimitMs);
      },
      "::1");
  ASSERT_TRUE(peer.ok());
  auto client = MakeTcpTransport();
  EXPECT_EQ(client->LocalAddress(), "0.0.0.1");
  EXPECT_EQ(client->RemoteAddress(), "");
  ConnectError err;
  ASSERT_TRUE(client->Connect("::1", peer.port(), kLimitMs, &err)) << err.detail;
  EXPECT_EQ(client->RemoteAddress(), "::1");
  EXPECT_EQ(client->LocalAddress(), "::1");
  // Nothing sent yet: the socket does not block.
  char byte;
  EXPECT_EQ(client->Receive(&byte, 1), Transport::kReceiveAgain);
  EXPECT_TRUE(test::SendAll(*client, "QUIT\r", kLimitMs));
  std::int64_t end = 1;
  EXPECT_EQ(test::ReceiveUpTo(*client, 100, kLimitMs, &end), "+OK\r\n");
  EXPECT_EQ(end, 0);
  peer.Join();
  EXPECT_EQ(received, "QUIT\r");
}

TEST(Transport, SystemResolverAnswersLocalNamesAndNumbers) {
  std::string err;
  const std::vector<std::string> local = SystemResolve("localhost", &err);
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end()) << err;
  EXPECT_EQ(std::set<std::string>(local.begin(), local.end()).size(), local.size());
  EXPECT_EQ(SystemResolve("127.0.0.1", &err), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(SystemResolve("::1", &err), std::vector<std::string>{"::1"});
  err.clear();
  EXPECT_TRUE(SystemResolve(std::string_view("local\0host", 10), &err).empty());
  EXPECT_FALSE(err.empty());

  LoopbackPeer peer([](Transport&) {});
  ASSERT_TRUE(peer.ok());
  auto client = MakeTcpTransport();
  ConnectError connect_err;
  EXPECT_TRUE(client->Connect("localhost", peer.port(), kLimitMs, &connect_err))
      << connect_err.detail;
  EXPECT_EQ(client->RemoteAddress(), "127.0.0.1");
}

TEST(Transport, ShutdownFromAnotherThreadEndsAConnectAtOnce) {
  SilentPort silent;
  if (silent.port() == 0) GTEST_SKIP() << "this machine answers connects to a full queue";
  auto client = MakeTcpTransport(Fixed({"127.0.0.1", "127.0.0.1"}));
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client->Shutdown();
  });
  ConnectError err;
  const auto start = SteadyClock::now();
  EXPECT_FALSE(client->Connect("pop.example", silent.port(), kLimitMs, &err));
  EXPECT_LT(MillisecondsSince(start), 2000);
  killer.join();
  EXPECT_EQ(err.failure, ConnectFailure::kNetwork);
  EXPECT_FALSE(client->IsConnected());
}

}  // namespace
}  // namespace postil
