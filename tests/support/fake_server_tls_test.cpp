// The fake servers over TLS, driven by a client Transport that trusts the
// test CA: implicit TLS, POP3 STLS, SMTP STARTTLS, the cut handshake, and
// cuts in the middle of the data.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/tcp_listener.h"
#include "platform/transport.h"
#include "support/fake_pop3_server.h"
#include "support/fake_smtp_server.h"
#include "support/host_dir.h"
#include "support/skip_without_tls.h"
#include "support/test_certificates.h"

namespace postil::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTimeLimitMs = 10000;
constexpr std::size_t kNever = std::string::npos;

// A client that speaks by hand and keeps a transcript of both sides.
class Client {
 public:
  enum class Read { kLine, kClosed, kBroken, kTimeOut };

  explicit Client(std::string ca_file) : ca_file_(std::move(ca_file)) {}

  bool Connect(const std::string& host, int port) {
    ConnectError err;
    const bool connected = transport_->Connect(host, port, kTimeLimitMs, &err);
    EXPECT_TRUE(connected) << err.detail;
    return connected;
  }

  ConnectFailure Secure(const std::string& server_name = "localhost") {
    TlsSessionInfo info;
    ConnectError err;
    TlsClientSettings settings;
    settings.server_name = server_name;
    settings.ca_file = ca_file_;
    transport_->SecureAsClient(settings, kTimeLimitMs, &info, &err);
    return err.failure;
  }

  void Send(std::string_view bytes) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeLimitMs);
    while (!bytes.empty() && Clock::now() < deadline) {
      const std::int64_t n = transport_->Send(bytes.data(), bytes.size());
      ASSERT_GE(n, 0);
      bytes.remove_prefix(static_cast<std::size_t>(n));
      if (!bytes.empty()) transport_->WaitWritable(kTimeLimitMs);
    }
    ASSERT_TRUE(bytes.empty());
  }

  Read ReadLine(std::string* line) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeLimitMs);
    while (true) {
      const std::size_t lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        line->assign(buffer_, 0, lf > 0 && buffer_[lf - 1] == '\r' ? lf - 1 : lf);
        buffer_.erase(0, lf + 1);
        return Read::kLine;
      }
      if (Clock::now() >= deadline) return Read::kTimeOut;
      if (transport_->WaitReadable(kTimeLimitMs) != WaitResult::kReady) return Read::kTimeOut;
      char chunk[4096];
      const std::int64_t n = transport_->Receive(chunk, sizeof chunk);
      if (n == 0) return Read::kClosed;
      if (n == Transport::kReceiveAgain) continue;
      if (n < 0) return Read::kBroken;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Reads a reply into the transcript: one line, a POP3 list up to ".",
  // or an SMTP reply up to its line with a space after the code.
  enum class Reply { kLine, kPop3List, kSmtp };
  void ReadReply(Reply kind = Reply::kLine) {
    std::string line;
    for (bool first = true; ReadLine(&line) == Read::kLine; first = false) {
      transcript.push_back("S: " + line);
      const bool list_ends =
          line == "." || (first && !line.starts_with("+OK"));  // "-ERR": no list follows
      if (kind == Reply::kLine || (kind == Reply::kPop3List && list_ends) ||
          (kind == Reply::kSmtp && (line.size() < 4 || line[3] != '-'))) {
        return;
      }
    }
    transcript.push_back("S: <no reply>");
  }

  void Say(std::string_view command, Reply kind = Reply::kLine) {
    transcript.push_back("C: " + std::string(command));
    Send(std::string(command) + "\r\n");
    ReadReply(kind);
  }

  std::vector<std::string> transcript;

 private:
  std::string ca_file_;
  std::unique_ptr<Transport> transport_ = MakeTcpTransport();
  std::string buffer_;
};

using Reply = Client::Reply;

class FakeServerTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (TlsLibraryVersion().empty()) return;  // every test skips
    dir_ = new HostDir();
    pki_ = new TestPki(MakeTestPki(dir_->path()));
  }
  void SetUp() override { POSTIL_SKIP_WITHOUT_TLS(); }
  static void TearDownTestSuite() {
    delete pki_;
    delete dir_;
  }
  static TlsServerSettings Certificate() { return {pki_->certificate_file, pki_->key_file}; }
  static Client NewClient() { return Client(pki_->ca_file); }

  static HostDir* dir_;
  static TestPki* pki_;
};

HostDir* FakeServerTlsTest::dir_ = nullptr;
TestPki* FakeServerTlsTest::pki_ = nullptr;

TEST_F(FakeServerTlsTest, Pop3StlsSecuresTheSessionBeforeLogin) {
  FakePop3Server server({"Subject: a\r\n\r\n.dot\r\n"}, {.tls = Certificate(), .offer_stls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  client.ReadReply();
  client.Say("CAPA", Reply::kPop3List);
  client.Say("STLS");
  ASSERT_EQ(client.Secure(), ConnectFailure::kNone);
  client.Say("CAPA", Reply::kPop3List);
  client.Say("STLS");
  client.Say("USER user");
  client.Say("PASS secret");
  client.Say("RETR 1", Reply::kPop3List);
  client.Say("QUIT");
  EXPECT_EQ(client.transcript, (std::vector<std::string>{
                                   "S: +OK POP3 fake server ready",
                                   "C: CAPA",
                                   "S: +OK Capability list follows",
                                   "S: USER",
                                   "S: STLS",
                                   "S: .",
                                   "C: STLS",
                                   "S: +OK Begin TLS negotiation",
                                   "C: CAPA",
                                   "S: +OK Capability list follows",
                                   "S: USER",
                                   "S: .",
                                   "C: STLS",
                                   "S: -ERR command not available",
                                   "C: USER user",
                                   "S: +OK user accepted",
                                   "C: PASS secret",
                                   "S: +OK logged in",
                                   "C: RETR 1",
                                   "S: +OK 20 octets",
                                   "S: Subject: a",
                                   "S: ",
                                   "S: ..dot",
                                   "S: .",
                                   "C: QUIT",
                                   "S: +OK bye",
                               }));
  server.Stop();
  const std::vector<ConnectionRecord> records = server.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].secured_from_line, 2u);
  EXPECT_EQ(records[0].discarded_at_tls, "");
  EXPECT_EQ(records[0].tls_error, "");
}

TEST_F(FakeServerTlsTest, SmtpStartTlsMakesTheClientGreetAgain) {
  FakeSmtpServer server({.tls = Certificate(), .offer_starttls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  client.ReadReply(Reply::kSmtp);
  client.Say("EHLO me", Reply::kSmtp);
  client.Say("STARTTLS", Reply::kSmtp);
  ASSERT_EQ(client.Secure(), ConnectFailure::kNone);
  client.Say("MAIL FROM:<a@b.example>", Reply::kSmtp);
  client.Say("EHLO me", Reply::kSmtp);
  client.Say("STARTTLS", Reply::kSmtp);
  client.Say("AUTH PLAIN AHVzZXIAc2VjcmV0", Reply::kSmtp);  // "\0user\0secret"
  client.Say("MAIL FROM:<a@b.example>", Reply::kSmtp);
  client.Say("RCPT TO:<c@d.example>", Reply::kSmtp);
  client.Say("DATA", Reply::kSmtp);
  client.Send("Hi\r\n..dot\r\n");
  client.Say(".", Reply::kSmtp);
  client.Say("QUIT", Reply::kSmtp);
  EXPECT_EQ(client.transcript, (std::vector<std::string>{
                                   "S: 220 fake.test ESMTP ready",
                                   "C: EHLO me",
                                   "S: 250-fake.test",
                                   "S: 250-AUTH LOGIN PLAIN",
                                   "S: 250-STARTTLS",
                                   "S: 250 8BITMIME",
                                   "C: STARTTLS",
                                   "S: 220 Ready to start TLS",
                                   "C: MAIL FROM:<a@b.example>",
                                   "S: 503 5.5.1 Error: send HELO/EHLO first",
                                   "C: EHLO me",
                                   "S: 250-fake.test",
                                   "S: 250-AUTH LOGIN PLAIN",
                                   "S: 250 8BITMIME",
                                   "C: STARTTLS",
                                   "S: 554 5.5.1 Error: TLS already active",
                                   "C: AUTH PLAIN AHVzZXIAc2VjcmV0",
                                   "S: 235 2.7.0 Authentication successful",
                                   "C: MAIL FROM:<a@b.example>",
                                   "S: 250 2.1.0 Ok",
                                   "C: RCPT TO:<c@d.example>",
                                   "S: 250 2.1.5 Ok",
                                   "C: DATA",
                                   "S: 354 End data with <CR><LF>.<CR><LF>",
                                   "C: .",
                                   "S: 250 2.0.0 Ok: queued",
                                   "C: QUIT",
                                   "S: 221 2.0.0 Bye",
                               }));
  server.Stop();
  const std::vector<FakeSmtpServer::Message> messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].data, "Hi\r\n..dot\r\n.\r\n");
  EXPECT_EQ(messages[0].helo, "me");
  EXPECT_TRUE(messages[0].accepted);
  const std::vector<ConnectionRecord> records = server.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].secured_from_line, 2u);
}

// Without the offer, both protocols refuse the upgrade and stay plain.
TEST_F(FakeServerTlsTest, UpgradeRefusedWhenNotOffered) {
  FakePop3Server pop3({}, {.tls = Certificate()});
  FakeSmtpServer smtp({.ehlo = {"250 fake.test"}, .tls = Certificate()});
  Client pop3_client = NewClient();
  ASSERT_TRUE(pop3_client.Connect("127.0.0.1", pop3.port()));
  pop3_client.ReadReply();
  pop3_client.Say("CAPA", Reply::kPop3List);
  pop3_client.Say("STLS");
  Client smtp_client = NewClient();
  ASSERT_TRUE(smtp_client.Connect("127.0.0.1", smtp.port()));
  smtp_client.ReadReply(Reply::kSmtp);
  smtp_client.Say("EHLO me", Reply::kSmtp);
  smtp_client.Say("STARTTLS", Reply::kSmtp);
  EXPECT_EQ(pop3_client.transcript,
            (std::vector<std::string>{"S: +OK POP3 fake server ready", "C: CAPA",
                                      "S: +OK Capability list follows", "S: USER", "S: .",
                                      "C: STLS", "S: -ERR command not available"}));
  EXPECT_EQ(
      smtp_client.transcript,
      (std::vector<std::string>{"S: 220 fake.test ESMTP ready", "C: EHLO me", "S: 250 fake.test",
                                "C: STARTTLS", "S: 502 5.5.1 Error: command not implemented"}));
}

// A one-line EHLO reply turns into two, so the keyword is not lost after the
// last line.
TEST_F(FakeServerTlsTest, StartTlsOfferedAfterAOneLineEhlo) {
  FakeSmtpServer server({.ehlo = {"250 fake.test"}, .tls = Certificate(), .offer_starttls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  client.ReadReply(Reply::kSmtp);
  client.Say("EHLO me", Reply::kSmtp);
  EXPECT_EQ(client.transcript,
            (std::vector<std::string>{"S: 220 fake.test ESMTP ready", "C: EHLO me",
                                      "S: 250-fake.test", "S: 250 STARTTLS"}));
}

TEST_F(FakeServerTlsTest, ImplicitTlsSecuresFromTheFirstByte) {
  FakePop3Server pop3({}, {.tls = Certificate(), .implicit_tls = true});
  FakeSmtpServer smtp({.tls = Certificate(), .implicit_tls = true});
  const struct {
    const char* name;
    int port;
    Reply reply;
    std::vector<std::string> transcript;
    std::vector<ConnectionRecord> (*records)(const FakePop3Server&, const FakeSmtpServer&);
  } cases[] = {
      {"POP3",
       pop3.port(),
       Reply::kLine,
       {"S: +OK POP3 fake server ready", "C: QUIT", "S: +OK bye"},
       [](const FakePop3Server& p, const FakeSmtpServer&) { return p.Records(); }},
      {"SMTP",
       smtp.port(),
       Reply::kSmtp,
       {"S: 220 fake.test ESMTP ready", "C: QUIT", "S: 221 2.0.0 Bye"},
       [](const FakePop3Server&, const FakeSmtpServer& s) { return s.Records(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client client = NewClient();
    ASSERT_TRUE(client.Connect("127.0.0.1", c.port));
    ASSERT_EQ(client.Secure("127.0.0.1"), ConnectFailure::kNone);
    client.ReadReply(c.reply);
    client.Say("QUIT", c.reply);
    EXPECT_EQ(client.transcript, c.transcript);
    std::string line;
    EXPECT_EQ(client.ReadLine(&line), Client::Read::kClosed);  // a clean close, with its alert
  }
  pop3.Stop();
  smtp.Stop();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ConnectionRecord> records = c.records(pop3, smtp);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].secured_from_line, 0u);
    EXPECT_EQ(records[0].lines, std::vector<std::string>{"QUIT"});
  }
}

TEST_F(FakeServerTlsTest, ListensOnIpv6Loopback) {
  platform::TcpListener probe;
  std::string err;
  if (!probe.Listen(0, &err, "::1")) GTEST_SKIP() << "no ::1 on this machine: " << err;
  probe.Close();
  FakeSmtpServer server({.listen_address = "::1", .tls = Certificate(), .implicit_tls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("::1", server.port()));
  ASSERT_EQ(client.Secure("::1"), ConnectFailure::kNone);
  client.ReadReply(Reply::kSmtp);
  EXPECT_EQ(client.transcript, std::vector<std::string>{"S: 220 fake.test ESMTP ready"});
}

TEST_F(FakeServerTlsTest, CutHandshakeFailsTheClient) {
  const struct {
    const char* name;
    bool smtp;
    bool implicit;
    std::vector<std::string> before;  // commands up to the go-ahead
  } cases[] = {
      {"POP3 implicit", false, true, {}},
      {"POP3 STLS", false, false, {"STLS"}},
      {"SMTP implicit", true, true, {}},
      {"SMTP STARTTLS", true, false, {"EHLO me", "STARTTLS"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<FakePop3Server> pop3;
    std::unique_ptr<FakeSmtpServer> smtp;
    if (c.smtp) {
      smtp = std::make_unique<FakeSmtpServer>(FakeSmtpServer::Options{.tls = Certificate(),
                                                                      .implicit_tls = c.implicit,
                                                                      .offer_starttls = !c.implicit,
                                                                      .cut_handshake = true});
    } else {
      pop3 = std::make_unique<FakePop3Server>(std::vector<std::string>{},
                                              FakePop3Server::Options{.tls = Certificate(),
                                                                      .implicit_tls = c.implicit,
                                                                      .offer_stls = !c.implicit,
                                                                      .cut_handshake = true});
    }
    const Reply reply = c.smtp ? Reply::kSmtp : Reply::kLine;
    Client client = NewClient();
    ASSERT_TRUE(client.Connect("127.0.0.1", c.smtp ? smtp->port() : pop3->port()));
    if (!c.implicit) client.ReadReply(reply);
    for (const std::string& command : c.before) client.Say(command, reply);
    if (!c.implicit) {
      EXPECT_TRUE(client.transcript.back() == "S: +OK Begin TLS negotiation" ||
                  client.transcript.back() == "S: 220 Ready to start TLS");
    }
    EXPECT_EQ(client.Secure(), ConnectFailure::kTlsHandshake);
    if (smtp) smtp->Stop();
    if (pop3) pop3->Stop();
    const std::vector<ConnectionRecord> records = smtp ? smtp->Records() : pop3->Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].secured_from_line, kNever);
    EXPECT_NE(records[0].tls_error, "");
  }
}

// Bytes a client sends before the handshake are never read as secured
// commands: they are thrown away and recorded.
TEST_F(FakeServerTlsTest, BytesSentAheadOfTheHandshakeAreDiscarded) {
  FakeSmtpServer server({.tls = Certificate(), .offer_starttls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  client.ReadReply(Reply::kSmtp);
  client.Say("EHLO me", Reply::kSmtp);
  client.Send("STARTTLS\r\nMAIL FROM:<injected@evil.example>\r\n");
  client.ReadReply(Reply::kSmtp);
  ASSERT_EQ(client.Secure(), ConnectFailure::kNone);
  client.Say("EHLO me", Reply::kSmtp);
  client.Say("QUIT", Reply::kSmtp);
  server.Stop();
  const std::vector<ConnectionRecord> records = server.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].discarded_at_tls, "MAIL FROM:<injected@evil.example>\r\n");
  EXPECT_EQ(records[0].lines, (std::vector<std::string>{"EHLO me", "STARTTLS", "EHLO me", "QUIT"}));
  EXPECT_EQ(records[0].secured_from_line, 2u);
}

// Megabytes both ways over TLS: many records, sends that find the socket
// full, and the wire bytes of the data kept exactly.
TEST_F(FakeServerTlsTest, BigTransfersAreExactOverTls) {
  std::string message = "Subject: big\r\n\r\n";
  for (int i = 0; message.size() < (4u << 20); ++i) {
    message += (i % 7 == 0 ? "." : "") + std::string(70 + i % 50, static_cast<char>('a' + i % 26));
    message += "\r\n";
  }
  const std::string wire = FakePop3Server::WireForm(message);
  FakePop3Server pop3({message}, {.tls = Certificate(), .implicit_tls = true});
  FakeSmtpServer smtp({.tls = Certificate(), .implicit_tls = true});

  Client pop3_client = NewClient();
  ASSERT_TRUE(pop3_client.Connect("127.0.0.1", pop3.port()));
  ASSERT_EQ(pop3_client.Secure(), ConnectFailure::kNone);
  pop3_client.ReadReply();
  pop3_client.Say("USER user");
  pop3_client.Say("PASS secret");
  pop3_client.Send("RETR 1\r\n");
  std::string received, line;
  while (pop3_client.ReadLine(&line) == Client::Read::kLine) {
    received += line + "\r\n";
    if (line == ".") break;
  }
  EXPECT_TRUE(received ==
              "+OK " + std::to_string(FakePop3Server::StatedSize(message)) + " octets\r\n" + wire);

  Client smtp_client = NewClient();
  ASSERT_TRUE(smtp_client.Connect("127.0.0.1", smtp.port()));
  ASSERT_EQ(smtp_client.Secure(), ConnectFailure::kNone);
  smtp_client.ReadReply(Reply::kSmtp);
  smtp_client.Say("EHLO me", Reply::kSmtp);
  smtp_client.Say("MAIL FROM:<a@b.example>", Reply::kSmtp);
  smtp_client.Say("RCPT TO:<c@d.example>", Reply::kSmtp);
  smtp_client.Say("DATA", Reply::kSmtp);
  smtp_client.Send(wire);
  smtp_client.ReadReply(Reply::kSmtp);
  EXPECT_EQ(smtp_client.transcript.back(), "S: 250 2.0.0 Ok: queued");
  smtp.Stop();
  const std::vector<FakeSmtpServer::Message> messages = smtp.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].data == wire);
}

// A cut in the middle of RETR is a TCP close without the closing alert, so
// the client sees a broken stream, not the end of the data.
TEST_F(FakeServerTlsTest, RetrFaultCutsTheTlsStream) {
  FakePop3Server server({"Subject: a\r\n\r\nbody\r\n"},
                        {.tls = Certificate(), .implicit_tls = true});
  server.SetRetrFault(1, 12, FakePop3Server::RetrFault::kClose);
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  ASSERT_EQ(client.Secure(), ConnectFailure::kNone);
  client.ReadReply();
  client.Say("USER user");
  client.Say("PASS secret");
  client.Say("RETR 1");
  std::string line;
  EXPECT_EQ(client.ReadLine(&line), Client::Read::kLine);
  EXPECT_EQ(line, "Subject: a");
  EXPECT_EQ(client.ReadLine(&line), Client::Read::kBroken);
}

// A client that connects and never begins the handshake holds the server
// thread in it; Stop() must still end in bounded time.
TEST_F(FakeServerTlsTest, StopEndsAWaitingHandshake) {
  FakePop3Server server({}, {.tls = Certificate(), .implicit_tls = true});
  Client client = NewClient();
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = Clock::now();
  server.Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(server.ConnectionCount(), 1);
}

}  // namespace
}  // namespace postil::test
