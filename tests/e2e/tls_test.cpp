// Secure connections end to end: the real binary against the fake servers
// over TLS from the first byte and after STLS / STARTTLS, with certificates
// made for the run. What arrives must be byte for byte what plain TCP
// brings, nothing secret may cross before the channel is secured, and
// every refusal must say why.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/pop3_fixture.h"
#include "e2e/smtp_fixture.h"
#include "support/fifo.h"
#include "support/skip_without_tls.h"
#include "support/test_certificates.h"
#include "text/text_helpers.h"

namespace postil::test {
namespace {

// A CA and a server certificate of its own, in a directory of their own.
struct Certificates {
  explicit Certificates(const CertificateOptions& options = {})
      : pki(MakeTestPki(dir.path(), options)) {}
  TlsServerSettings Server() const { return {pki.certificate_file, pki.key_file}; }

  HostDir dir;
  TestPki pki;
};

enum class Mode { kPlain, kImplicit, kStartTls };

const char* ModeWord(Mode mode) {
  switch (mode) {
    case Mode::kPlain:
      return "off";
    case Mode::kImplicit:
      return "tls";
    case Mode::kStartTls:
      return "starttls";
  }
  return "";
}

bool HasLineStartingWith(const std::vector<std::string>& log, std::string_view prefix) {
  return std::any_of(log.begin(), log.end(),
                     [prefix](const std::string& line) { return line.starts_with(prefix); });
}

FakePop3Server::Options Pop3Options(const Certificates& certificates, Mode mode) {
  FakePop3Server::Options options;
  options.tls = certificates.Server();
  options.implicit_tls = mode == Mode::kImplicit;
  options.offer_stls = mode == Mode::kStartTls;
  return options;
}

std::string Pop3CauseLine(const Pop3Run& run, std::string_view cause) {
  return "? Connection to 127.0.0.1 port " + std::to_string(run.server.port()) +
         " failed: " + std::string(cause);
}

TEST(Pop3Tls, EveryModeFetchesTheSameBytesAndLogsInOnlyWhenSecured) {
  POSTIL_SKIP_WITHOUT_TLS();
  const Certificates certificates;
  const struct {
    Mode mode;
    std::vector<std::string> commands;
    std::size_t secured_from_line;
  } cases[] = {
      {Mode::kPlain, {"USER user", "PASS secret", "STAT"}, std::string::npos},
      {Mode::kImplicit, {"USER user", "PASS secret", "STAT"}, 0},
      {Mode::kStartTls, {"CAPA", "STLS", "USER user", "PASS secret", "STAT"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ModeWord(c.mode));
    Pop3Run run({Message("<1@x>")}, Pop3Options(certificates, c.mode));
    run.Configure({std::string("$Pop3Tls=") + ModeWord(c.mode),
                   "$TlsCaFile=" + certificates.pki.ca_file});
    run.dir.EnableDebug();
    run.Run();
    EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
    ASSERT_EQ(run.FetchedNames().size(), 1u) << run.result.log;
    EXPECT_EQ(run.Spool(run.FetchedNames()[0]), SpoolBytes(Message("<1@x>") + ".\n"));
    std::vector<std::string> commands = run.server.Commands();
    commands.resize(std::min(commands.size(), c.commands.size()));
    EXPECT_EQ(commands, c.commands);
    ASSERT_EQ(run.server.Records().size(), 1u);
    EXPECT_EQ(run.server.Records()[0].secured_from_line, c.secured_from_line);
    EXPECT_EQ(HasLineStartingWith(run.log, "= TLS connection: TLSv1.3, TLS_"), c.mode != Mode::kPlain)
        << run.result.log;
    // What a user copies into the fingerprint setting, in debug mode.
    EXPECT_EQ(Contains(run.log, "  Fingerprint: " + certificates.pki.fingerprint),
              c.mode != Mode::kPlain);
  }
}

TEST(Pop3Tls, TheCertificateIsCheckedBeforeAnyCommand) {
  POSTIL_SKIP_WITHOUT_TLS();
  const Certificates trusted;
  const Certificates other;
  const Certificates expired({{"localhost", "127.0.0.1"}, -30, -1});
  const Certificates wrong_name({{"mail.example.org"}, -1, 30});
  const std::string right_print = trusted.pki.fingerprint;
  const std::string wrong_print = other.pki.fingerprint;
  const struct {
    const char* name;
    const Certificates& server;
    std::string ca_file;
    std::string fingerprint;
    std::string cause;  // empty: the fetch succeeds
  } cases[] = {
      {"trusted", trusted, trusted.pki.ca_file, "", ""},
      {"unknown CA", trusted, other.pki.ca_file, "",
       "certificate not trusted (unable to get local issuer certificate)"},
      {"expired", expired, expired.pki.ca_file, "", "certificate not trusted (certificate has expired)"},
      {"name mismatch", wrong_name, wrong_name.pki.ca_file, "", "certificate name mismatch (IP address mismatch)"},
      {"fingerprint", trusted, other.pki.ca_file, right_print, ""},
      {"fingerprint without colons", trusted, "", Without(right_print, ':'), ""},
      {"wrong fingerprint", trusted, trusted.pki.ca_file, wrong_print,
       "certificate fingerprint mismatch (" + right_print + ")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pop3Run run({Message("<1@x>")}, Pop3Options(c.server, Mode::kImplicit));
    std::vector<std::string> extra = {"$Pop3Tls=tls"};
    if (!c.ca_file.empty()) extra.push_back("$TlsCaFile=" + c.ca_file);
    if (!c.fingerprint.empty()) extra.push_back("$Pop3TlsFingerprint=" + c.fingerprint);
    run.Configure(extra);
    run.Run();
    if (c.cause.empty()) {
      EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
      EXPECT_EQ(run.FetchedNames().size(), 1u);
      continue;
    }
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(LoggedInOrder(run.log, {"? POP3 Server 127.0.0.1 not found",
                                        Pop3CauseLine(run, c.cause)}))
        << run.result.log;
    EXPECT_TRUE(run.server.Commands().empty());
    EXPECT_TRUE(run.FetchedNames().empty());
  }
}

TEST(Pop3Tls, NoLoginWithoutStls) {
  // No handshake is ever started: runs wherever certificates can be made.
  const Certificates certificates;
  const struct {
    const char* name;
    bool offered;
    std::vector<std::string> commands;
    std::string cause;
  } cases[] = {
      {"not in CAPA", false, {"CAPA"}, "STARTTLS not offered"},
      {"refused", true, {"CAPA", "STLS"}, "STARTTLS not offered (-ERR not now)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePop3Server::Options options = Pop3Options(certificates, Mode::kStartTls);
    options.offer_stls = c.offered;
    Pop3Run run({Message("<1@x>")}, options);
    run.server.SetReply("STLS", "-ERR not now");
    run.Configure({"$Pop3Tls=starttls", "$TlsCaFile=" + certificates.pki.ca_file});
    run.Run();
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_EQ(run.server.Commands(), c.commands);
    EXPECT_TRUE(Contains(run.log, Pop3CauseLine(run, c.cause))) << run.result.log;
    EXPECT_EQ(run.server.Mailbox().size(), 1u);
  }
}

TEST(Pop3Tls, ACutHandshakeOrStreamLosesNothing) {
  POSTIL_SKIP_WITHOUT_TLS();
  const Certificates certificates;
  {
    FakePop3Server::Options options = Pop3Options(certificates, Mode::kImplicit);
    options.cut_handshake = true;
    Pop3Run run({Message("<1@x>")}, options);
    run.Configure({"$Pop3Tls=tls", "$TlsCaFile=" + certificates.pki.ca_file});
    run.Run();
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(HasLineStartingWith(run.log, Pop3CauseLine(run, "TLS handshake failed")))
        << run.result.log;
  }
  {
    // Dropped in the middle of RETR without the closing alert: a broken
    // connection, not the end of the message.
    Pop3Run run({Message("<1@x>", "Hello", std::string(5000, 'b') + "\n")},
                Pop3Options(certificates, Mode::kImplicit));
    run.server.SetRetrFault(1, 2000, FakePop3Server::RetrFault::kClose);
    run.Configure({"$Pop3Tls=tls", "$TlsCaFile=" + certificates.pki.ca_file});
    run.Run();
    EXPECT_EQ(run.FetchedNames(), std::vector<std::string>{}) << run.result.log;
    EXPECT_EQ(run.server.Mailbox().size(), 1u);
  }
}

// A time-out of 0 bounds the handshake all the same, with the shortest
// time-out: a server that takes the connection and never answers must not
// hold the run (nor the other runs that wait for the state mutex).
TEST(Pop3Tls, ATimeOutOfZeroStillBoundsTheHandshake) {
  const Certificates certificates;
  FakePop3Server::Options silent;
  silent.greeting = std::nullopt;
  Pop3Run run({Message("<1@x>")}, silent);
  run.Configure({"$Pop3Tls=tls", "$Pop3TimeOut=0", "$TlsCaFile=" + certificates.pki.ca_file});
  const auto start = std::chrono::steady_clock::now();
  run.Run({}, 20000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(run.result.timed_out);
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(LoggedInOrder(run.log, {"? POP3 Server 127.0.0.1 not found",
                                      Pop3CauseLine(run, "TLS handshake failed (timed out)")}))
      << run.result.log;
  EXPECT_EQ(run.server.Mailbox().size(), 1u);
}

// TlsCaFile is read as the host files are: only a regular file. A FIFO
// would block the connection for ever; it fails at once, naming the file.
TEST(Pop3Tls, ACaFileThatIsNoRegularFileFailsTheConnection) {
  POSTIL_SKIP_WITHOUT_TLS();
  const Certificates certificates;
  const std::string fifo = certificates.dir.path() + "/ca.fifo";
  const bool with_fifo = MakeFifo(fifo);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {fifo, "not a regular file"},
      {certificates.dir.path(), "not a regular file"},
      {certificates.dir.path() + "/missing.pem", "not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.path == fifo && !with_fifo) continue;  // a system without FIFOs
    Pop3Run run({Message("<1@x>")}, Pop3Options(certificates, Mode::kImplicit));
    run.Configure({"$Pop3Tls=tls", "$TlsCaFile=" + c.path});
    const auto start = std::chrono::steady_clock::now();
    run.Run({}, 20000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(LoggedInOrder(
        run.log, {"? POP3 Server 127.0.0.1 not found",
                  Pop3CauseLine(run, "certificate not trusted (cannot load CA certificates " +
                                         c.path + ": " + c.reason + ")")}))
        << run.result.log;
    EXPECT_TRUE(run.server.Commands().empty());
    EXPECT_EQ(run.server.Mailbox().size(), 1u);
  }
  if (!with_fifo) GTEST_SKIP() << "no FIFOs on this system";
}

TEST(Pop3Tls, UnknownModeWordServesNothing) {
  Pop3Run run({Message("<1@x>")});
  run.Configure({"$Pop3Tls=ssl"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.server.ConnectionCount(), 0);
  EXPECT_NE(run.result.log.find("Configuration: Pop3Tls value ssl not known (off, tls or "
                                "starttls), POP3 account 1 not served"),
            std::string::npos)
      << run.result.log;
}

TEST(Pop3Addresses, Ipv6LoopbackAndLocalhostWork) {
  {
    FakePop3Server::Options options;
    options.listen_address = "::1";
    Pop3Run run({Message("<1@x>")}, options);
    run.Configure({"$Pop3Server=::1"});
    run.Run();
    EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
    ASSERT_EQ(run.SpoolNames().size(), 1u);
    EXPECT_TRUE(run.Spool(run.SpoolNames()[0]).ends_with(Message("<1@x>") + ".\nQUIT\n"));
  }
  {
    Pop3Run run({Message("<1@x>")});
    run.Configure({"$Pop3Server=localhost"});
    run.Run();
    EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
    EXPECT_EQ(run.SpoolNames().size(), 1u);
  }
}

TEST(Pop3Addresses, ARefusedConnectionSaysSo) {
  int closed_port;
  {
    FakePop3Server gone({});
    closed_port = gone.port();
  }
  Pop3Run run({});
  run.Configure({"$Pop3Port=" + std::to_string(closed_port)});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(LoggedInOrder(run.log, {"? POP3 Server 127.0.0.1 not found",
                                      "? Connection to 127.0.0.1 port " +
                                          std::to_string(closed_port) +
                                          " failed: connection refused"}))
      << run.result.log;
}

FakeSmtpServer::Options SmtpOptions(const Certificates& certificates, Mode mode) {
  FakeSmtpServer::Options options;
  options.tls = certificates.Server();
  options.implicit_tls = mode == Mode::kImplicit;
  options.offer_starttls = mode == Mode::kStartTls;
  return options;
}

TEST(SmtpTls, EveryModeSendsTheSameBytesAndAuthenticatesOnlyWhenSecured) {
  POSTIL_SKIP_WITHOUT_TLS();
  const Certificates certificates;
  const struct {
    Mode mode;
    std::vector<std::string> first_commands;
    std::size_t secured_from_line;
  } cases[] = {
      {Mode::kPlain, {"EHLO host.example", "AUTH PLAIN"}, std::string::npos},
      {Mode::kImplicit, {"EHLO host.example", "AUTH PLAIN"}, 0},
      {Mode::kStartTls, {"EHLO [127.0.0.1]", "STARTTLS", "EHLO host.example", "AUTH PLAIN"}, 2},
  };
  std::string plain_data;
  for (const auto& c : cases) {
    SCOPED_TRACE(ModeWord(c.mode));
    SmtpRun run(SmtpOptions(certificates, c.mode));
    run.ConfigureBox({"SmtpUser=user", "SmtpPass=secret", std::string("SmtpTls=") + ModeWord(c.mode),
                      "TlsCaFile=" + certificates.pki.ca_file});
    run.Outgoing("M0001.OUT", kBatchedFile);
    run.Run();
    EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
    ASSERT_EQ(run.server.Messages().size(), 1u) << run.result.log;
    if (c.mode == Mode::kPlain) plain_data = run.server.Messages()[0].data;
    EXPECT_EQ(run.server.Messages()[0].data, plain_data);
    std::vector<std::string> lines = run.server.Commands();
    lines.resize(std::min(lines.size(), c.first_commands.size()));
    EXPECT_EQ(lines, c.first_commands);
    ASSERT_FALSE(run.server.Records().empty());
    EXPECT_EQ(run.server.Records()[0].secured_from_line, c.secured_from_line);
    EXPECT_FALSE(run.Kept("M0001.OUT"));
  }
  EXPECT_NE(plain_data.find("..dotted\r\n"), std::string::npos);
}

TEST(SmtpTls, NothingIsSentWithoutStartTls) {
  // No handshake is ever started: runs wherever certificates can be made.
  const Certificates certificates;
  SmtpRun run(SmtpOptions(certificates, Mode::kPlain));
  run.ConfigureBox({"SmtpUser=user", "SmtpPass=secret", "SmtpTls=starttls",
                    "TlsCaFile=" + certificates.pki.ca_file});
  run.Outgoing("M0001.OUT", kBatchedFile);
  run.Run();
  EXPECT_EQ(run.result.exit_code, 2);
  EXPECT_EQ(run.server.Commands(), std::vector<std::string>{"EHLO [127.0.0.1]"});
  EXPECT_TRUE(LoggedInOrder(run.smtp_log,
                            {"? Connection to 127.0.0.1 port " + std::to_string(run.server.port()) +
                                 " failed: STARTTLS not offered",
                             "? SMTP Server 127.0.0.1 not reachable"}))
      << run.result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
}

}  // namespace
}  // namespace postil::test
