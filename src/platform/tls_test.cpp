// TLS through the TCP transport, both ends real, on loopback sockets, with
// certificates made for each test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/transport.h"
#include "support/host_dir.h"
#include "support/loopback_peer.h"
#include "support/skip_without_tls.h"
#include "support/test_certificates.h"

namespace postil {
namespace {

using SteadyClock = std::chrono::steady_clock;
using test::LoopbackPeer;

constexpr int kLimitMs = 10000;  // any single step of a test on a loaded machine
constexpr int kPollMs = 10;

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// Waits (bounded) until `flag` is set by the other end of the test.
void AwaitFlag(const std::atomic<bool>& flag) {
  for (int i = 0; i < kLimitMs / kPollMs && !flag; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

class TlsTransport : public ::testing::Test {
 protected:
  // Each test that needs a TLS server skips where none can run.
  void SetUp() override { pki_ = test::MakeTestPki(dir_.path()); }
  TlsServerSettings ServerOf(const test::TestPki& pki) const {
    return {pki.certificate_file, pki.key_file};
  }
  // A client connected (not yet secured) to 127.0.0.1 at `port`.
  std::unique_ptr<Transport> ConnectTo(int port, std::string_view host = "127.0.0.1") {
    auto client = MakeTcpTransport();
    ConnectError err;
    EXPECT_TRUE(client->Connect(host, port, kLimitMs, &err)) << err.detail;
    return client;
  }

  test::HostDir dir_;
  test::TestPki pki_;
};

TEST_F(TlsTransport, TrustedServerCarriesBytesBothWaysExactly) {
  POSTIL_SKIP_WITHOUT_TLS();
  const std::string upload = Pattern(16 << 20, 7);
  const std::string download = Pattern(4 << 20, 13);
  for (const char* name : {"localhost", "127.0.0.1"}) {
    SCOPED_TRACE(name);
    std::atomic<int> client_stalls{0};
    std::string uploaded;
    std::int64_t upload_end = 0;
    bool downloaded = false;
    LoopbackPeer peer([&](Transport& server) {
      std::string err;
      if (!server.SecureAsServer(ServerOf(pki_), kLimitMs, &err)) return;
      // Reading starts once the client's sends stall, so it offers the
      // same bytes again after a partial write.
      for (int i = 0; i < kLimitMs / kPollMs && client_stalls == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      }
      uploaded = test::ReceiveUpTo(server, upload.size(), kLimitMs, &upload_end);
      downloaded = test::SendAll(server, download, kLimitMs);
      server.Close();  // with the closing alert
    });
    ASSERT_TRUE(peer.ok());
    auto client = ConnectTo(peer.port(), name);
    ConnectError err;
    TlsSessionInfo info;
    ASSERT_TRUE(client->SecureAsClient({name, pki_.ca_file, ""}, kLimitMs, &info, &err))
        << err.detail;
    EXPECT_TRUE(client->IsSecured());
    EXPECT_EQ(info.protocol, "TLSv1.3");
    EXPECT_FALSE(info.cipher.empty());
    EXPECT_EQ(info.subject, "CN=localhost");
    EXPECT_EQ(info.fingerprint, pki_.fingerprint);

    EXPECT_TRUE(test::SendAll(*client, upload, kLimitMs, &client_stalls));
    std::int64_t download_end = 1;
    const std::string received =
        test::ReceiveUpTo(*client, download.size() + 1, kLimitMs, &download_end);
    peer.Join();
    EXPECT_GT(client_stalls, 0);
    EXPECT_EQ(upload_end, 1);  // all bytes, nothing after them yet
    EXPECT_EQ(uploaded.size(), upload.size());
    EXPECT_TRUE(uploaded == upload);
    EXPECT_TRUE(downloaded);
    EXPECT_EQ(download_end, 0);  // the closing alert
    EXPECT_EQ(received.size(), download.size());
    EXPECT_TRUE(received == download);
  }
}

enum class Pin { kNone, kRight, kRightLowerWithColons, kWrong };

TEST_F(TlsTransport, ChecksTheServerAsTheSettingsSay) {
  POSTIL_SKIP_WITHOUT_TLS();
  using Failure = ConnectFailure;
  struct Case {
    const char* what;
    test::CertificateOptions certificate;
    bool trusted_ca;
    const char* server_name;
    Pin pin;
    Failure failure;
    const char* detail;  // nullptr: the server's fingerprint
  };
  const test::CertificateOptions standard;
  const test::CertificateOptions elsewhere{{"other.example"}, -1, 30};
  const test::CertificateOptions expired{{"localhost", "127.0.0.1"}, -10, -1};
  const test::CertificateOptions not_yet{{"localhost", "127.0.0.1"}, 2, 30};
  const Case cases[] = {
      {"trusted", standard, true, "localhost", Pin::kNone, Failure::kNone, ""},
      {"unknown CA", standard, false, "localhost", Pin::kNone, Failure::kCertificateNotTrusted,
       "unable to get local issuer certificate"},
      {"other name", elsewhere, true, "localhost", Pin::kNone, Failure::kNameMismatch,
       "hostname mismatch"},
      {"other address", elsewhere, true, "127.0.0.1", Pin::kNone, Failure::kNameMismatch,
       "IP address mismatch"},
      {"expired", expired, true, "localhost", Pin::kNone, Failure::kCertificateNotTrusted,
       "certificate has expired"},
      {"not yet valid", not_yet, true, "localhost", Pin::kNone, Failure::kCertificateNotTrusted,
       "certificate is not yet valid"},
      {"pinned, unknown CA and name", elsewhere, false, "localhost", Pin::kRight, Failure::kNone,
       ""},
      {"pinned, other spelling", elsewhere, false, "localhost", Pin::kRightLowerWithColons,
       Failure::kNone, ""},
      {"pinned wrong", standard, true, "localhost", Pin::kWrong, Failure::kFingerprintMismatch,
       nullptr},
  };
  const test::TestPki stranger = test::MakeTestPki(dir_.path(), {}, "stranger");
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TestPki pki =
        test::MakeTestPki(dir_.path(), c.certificate, "case" + std::to_string(index++));
    LoopbackPeer peer([&](Transport& server) {
      std::string err;
      server.SecureAsServer(ServerOf(pki), kLimitMs, &err);
    });
    ASSERT_TRUE(peer.ok());
    std::string pin;
    for (const char ch : pki.fingerprint) {
      if (c.pin == Pin::kRightLowerWithColons) pin += static_cast<char>(std::tolower(ch));
      if ((c.pin == Pin::kRight || c.pin == Pin::kWrong) && ch != ':') pin += ch;
    }
    if (c.pin == Pin::kWrong) pin[0] = pin[0] == 'A' ? 'B' : 'A';
    const TlsClientSettings settings{c.server_name, c.trusted_ca ? pki.ca_file : stranger.ca_file,
                                     pin};
    auto client = ConnectTo(peer.port());
    ConnectError err;
    TlsSessionInfo info;
    EXPECT_EQ(client->SecureAsClient(settings, kLimitMs, &info, &err), c.failure == Failure::kNone);
    EXPECT_EQ(err.failure, c.failure);
    EXPECT_EQ(err.detail, c.detail != nullptr ? c.detail : pki.fingerprint);
    client->Close();
  }
}

TEST_F(TlsTransport, HandshakeFailuresAreReportedAndBounded) {
  struct Case {
    const char* what;
    std::function<void(Transport&)> server;
    int time_out_ms;
    const char* detail;  // nullptr: whatever the TLS library says
  };
  std::atomic<bool> client_done{false};
  const Case cases[] = {
      {"closes at once", [](Transport& server) { server.Close(); }, kLimitMs, nullptr},
      {"answers in plain text",
       [&](Transport& server) {
         test::SendAll(server, "+OK ready\r\n", kLimitMs);
         AwaitFlag(client_done);
       },
       kLimitMs, nullptr},
      {"never answers", [&](Transport&) { AwaitFlag(client_done); }, 300, "timed out"},
      {"never answers, no time given", [&](Transport&) { AwaitFlag(client_done); }, 0,
       "timed out"},
      // A record header announcing more than TLS allows: refused at once,
      // not waited for or buffered.
      {"announces an oversized record",
       [&](Transport& server) {
         test::SendAll(server, std::string("\x16\x03\x03\xff\xff") + std::string(100, '\0'),
                       kLimitMs);
         AwaitFlag(client_done);
       },
       kLimitMs, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    client_done = false;
    LoopbackPeer peer(c.server);
    ASSERT_TRUE(peer.ok());
    auto client = ConnectTo(peer.port());
    ConnectError err;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(
        client->SecureAsClient({"localhost", pki_.ca_file, ""}, c.time_out_ms, nullptr, &err));
    const long long elapsed = MillisecondsSince(start);
    client_done = true;
    EXPECT_EQ(err.failure, ConnectFailure::kTlsHandshake);
    if (c.detail != nullptr) {
      EXPECT_EQ(err.detail, c.detail);
    }
    EXPECT_FALSE(err.detail.empty());
    EXPECT_GE(elapsed, c.time_out_ms < kLimitMs ? c.time_out_ms - 10 : 0);
    EXPECT_LT(elapsed, c.time_out_ms < kLimitMs ? c.time_out_ms + 2000 : 5000);
    EXPECT_FALSE(client->IsSecured());
    EXPECT_EQ(client->Receive(nullptr, 0), -1);  // unusable after a failed handshake
  }
}

// The server sends `bytes`, then ends the stream with or without the
// closing alert once the client says so.
struct EndingServer {
  std::string bytes;
  bool with_closing_alert;
  std::atomic<bool> client_done{false};
  LoopbackPeer::Handler Handler(const TlsServerSettings& settings) {
    return [this, settings](Transport& server) {
      std::string err;
      if (!server.SecureAsServer(settings, kLimitMs, &err)) return;
      test::SendAll(server, bytes, kLimitMs);
      AwaitFlag(client_done);
      if (!with_closing_alert) server.Shutdown();
      server.Close();
    };
  }
};

TEST_F(TlsTransport, AStreamCutWithoutTheClosingAlertIsAnError) {
  POSTIL_SKIP_WITHOUT_TLS();
  for (const bool with_alert : {true, false}) {
    SCOPED_TRACE(with_alert ? "closing alert" : "cut");
    EndingServer ending{"partial data", with_alert};
    LoopbackPeer peer(ending.Handler(ServerOf(pki_)));
    ASSERT_TRUE(peer.ok());
    auto client = ConnectTo(peer.port());
    ConnectError err;
    ASSERT_TRUE(client->SecureAsClient({"127.0.0.1", pki_.ca_file, ""}, kLimitMs, nullptr, &err));
    std::int64_t end = 1;
    EXPECT_EQ(test::ReceiveUpTo(*client, 12, kLimitMs, &end), "partial data");
    ending.client_done = true;
    EXPECT_EQ(test::ReceiveUpTo(*client, 1, kLimitMs, &end), "");
    EXPECT_EQ(end, with_alert ? 0 : -1);
  }
}

TEST_F(TlsTransport, DecryptedBytesLeftOverMakeTheStreamReadable) {
  POSTIL_SKIP_WITHOUT_TLS();
  EndingServer ending{"0123456789", true};
  LoopbackPeer peer(ending.Handler(ServerOf(pki_)));
  ASSERT_TRUE(peer.ok());
  auto client = ConnectTo(peer.port());
  ConnectError err;
  ASSERT_TRUE(client->SecureAsClient({"127.0.0.1", pki_.ca_file, ""}, kLimitMs, nullptr, &err));
  // One record of ten bytes, taken four at a time: the socket is empty
  // while six bytes wait inside the TLS library.
  EXPECT_EQ(test::ReceiveUpTo(*client, 4, kLimitMs), "0123");
  EXPECT_EQ(client->WaitReadable(0), WaitResult::kReady);
  char rest[16];
  EXPECT_EQ(client->Receive(rest, sizeof rest), 6);
  EXPECT_EQ(std::string(rest, 6), "456789");
  ending.client_done = true;
}

TEST_F(TlsTransport, ShutdownFromAnotherThreadEndsAWaitAtOnce) {
  POSTIL_SKIP_WITHOUT_TLS();
  enum class Step { kHandshake, kWaitForData };
  for (const Step step : {Step::kHandshake, Step::kWaitForData}) {
    SCOPED_TRACE(step == Step::kHandshake ? "handshake" : "wait for data");
    std::atomic<bool> client_done{false};
    LoopbackPeer peer([&](Transport& server) {
      std::string err;
      if (step == Step::kWaitForData) server.SecureAsServer(ServerOf(pki_), kLimitMs, &err);
      AwaitFlag(client_done);  // then silent
    });
    ASSERT_TRUE(peer.ok());
    auto client = ConnectTo(peer.port());
    ConnectError err;
    if (step == Step::kWaitForData) {
      ASSERT_TRUE(client->SecureAsClient({"127.0.0.1", pki_.ca_file, ""}, kLimitMs, nullptr, &err));
    }
    std::thread killer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      client->Shutdown();
    });
    const auto start = SteadyClock::now();
    if (step == Step::kHandshake) {
      EXPECT_FALSE(
          client->SecureAsClient({"127.0.0.1", pki_.ca_file, ""}, kLimitMs, nullptr, &err));
      EXPECT_EQ(err.failure, ConnectFailure::kTlsHandshake);
    } else {
      // The server's session tickets may come first; they give no bytes.
      WaitResult waited = WaitResult::kReady;
      for (int i = 0; i < 10 && waited == WaitResult::kReady; ++i) {
        waited = client->WaitReadable(kLimitMs);
        char byte;
        if (waited == WaitResult::kReady) {
          EXPECT_EQ(client->Receive(&byte, 1), Transport::kReceiveAgain);
        }
      }
      EXPECT_EQ(waited, WaitResult::kError);
    }
    EXPECT_LT(MillisecondsSince(start), 3000);
    killer.join();
    client_done = true;
  }
}

}  // namespace
}  // namespace postil
