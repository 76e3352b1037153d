// The SMTP session against the fake server: greeting, HELO or EHLO with
// AUTH LOGIN / AUTH PLAIN, QUIT, and the failures of each step.
#include <gtest/gtest.h>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

const char kNormalFile[] =
    "From anna@example.org Sun Dec  6 09:05:07 2026\n"
    "From: Anna Berg <anna@example.org>\n"
    "To: bob@example.net\n"
    "Subject: Hi\n"
    "\n"
    "Hello Bob.\n";

// The dialogue of kNormalFile after the greeting step.
const std::vector<std::string> kTransaction = {
    "C: MAIL FROM:<anna@example.org>",
    "S: 250 2.1.0 Ok",
    "C: RCPT TO:<bob@example.net>",
    "S: 250 2.1.5 Ok",
    "C: DATA",
    "S: 354 End data with <CR><LF>.<CR><LF>",
    "C: .",
    "S: 250 2.0.0 Ok: queued",
    "C: QUIT",
    "S: 221 2.0.0 Bye",
};

std::vector<std::string> Joined(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(SmtpSession, HeloWithoutUserSendsTheMessageAndQuits) {
  SmtpRun run;
  run.Configure();
  run.Outgoing("M0001.OUT", kNormalFile);
  run.dir.EnableDebug();
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_EQ(run.server.Dialogue(), Joined({"S: 220 fake.test ESMTP ready", "C: HELO example.org",
                                           "S: 250 fake.test"},
                                          kTransaction));
  EXPECT_EQ(run.smtp_log, (std::vector<std::string>{
                              "~ SMTP Starting to 127.0.0.1",
                              "  IP: 127.0.0.1",
                              "  220 fake.test ESMTP ready",
                              "= SMTP Connection etablished",
                              "* Sending: OUT\\M0001.OUT",
                              "* Mode: Normal Smtp",
                              "  250 fake.test",
                              "- Mail from: <anna@example.org>",
                              "- Mail to: <bob@example.net>",
                              "  250 2.0.0 Ok: queued",
                              "* Spoolfile deleted",
                              "= SMTP to 127.0.0.1 disconnected",
                          }));
  EXPECT_FALSE(run.Kept("M0001.OUT"));
  EXPECT_TRUE(run.server.Authentications().empty());
}

struct AuthCase {
  const char* name;
  std::vector<std::string> ehlo;
  std::string user;
  std::string password;
  std::vector<std::string> auth_dialogue;  // after the EHLO reply
  std::vector<std::string> auth_log;
};
void PrintTo(const AuthCase& c, std::ostream* os) { *os << c.name; }

class SmtpAuthentication : public testing::TestWithParam<AuthCase> {};

TEST_P(SmtpAuthentication, AuthenticatesOnceBeforeTheFirstMessage) {
  const AuthCase& c = GetParam();
  FakeSmtpServer::Options options;
  options.ehlo = c.ehlo;
  options.user = c.user;
  options.password = c.password;
  SmtpRun run(options);
  run.ConfigureBox({"SmtpUser=" + c.user, "SmtpPass=" + c.password});
  run.dir.WriteHostExe(true);
  run.Outgoing("M0001.OUT", kNormalFile);
  run.Outgoing("M0002.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;

  std::vector<std::string> expected = {"S: 220 fake.test ESMTP ready", "C: EHLO example.org"};
  for (const std::string& line : c.ehlo) expected.push_back("S: " + line);
  expected = Joined(expected, c.auth_dialogue);
  // Two messages, one greeting: the second transaction follows directly.
  expected = Joined(expected, std::vector<std::string>(kTransaction.begin(), kTransaction.end() - 2));
  expected = Joined(expected, kTransaction);
  EXPECT_EQ(run.server.Dialogue(), expected);

  std::vector<std::string> auth_log;
  for (const std::string& line : run.smtp_log) {
    if (line.starts_with("+ ") || line.starts_with("= SMTP Auth")) auth_log.push_back(line);
  }
  EXPECT_EQ(auth_log, c.auth_log);
  ASSERT_EQ(run.server.Authentications().size(), 1u);
  EXPECT_TRUE(run.server.Authentications()[0].accepted);
  EXPECT_EQ(run.dir.List("OUT"), std::vector<std::string>{});
}

const std::vector<std::string> kLoginLog = {"+ Sending AUTH LOGIN", "+ Sending Username",
                                            "+ Sending Password",
                                            "= SMTP Authentification etablished"};
const std::vector<std::string> kPlainLog = {"+ Sending AUTH PLAIN", "+ Sending Username/Password",
                                            "= SMTP Authentification etablished"};

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, SmtpAuthentication,
    testing::Values(
        AuthCase{"Login",
                 {"250-fake.test", "250-AUTH LOGIN", "250 8BITMIME"},
                 "user",
                 "secret",
                 {"C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6", "C: dXNlcg==", "S: 334 UGFzc3dvcmQ6",
                  "C: c2VjcmV0", "S: 235 2.7.0 Authentication successful"},
                 kLoginLog},
        AuthCase{"Plain",
                 {"250-fake.test", "250 AUTH PLAIN"},
                 "user",
                 "secret",
                 {"C: AUTH PLAIN", "S: 334 ", "C: AHVzZXIAc2VjcmV0",
                  "S: 235 2.7.0 Authentication successful"},
                 kPlainLog},
        AuthCase{"PlainChosenOverLogin",
                 {"250-fake.test", "250-AUTH LOGIN", "250-AUTH=LOGIN PLAIN", "250 8BITMIME"},
                 "user",
                 "secret",
                 {"C: AUTH PLAIN", "S: 334 ", "C: AHVzZXIAc2VjcmV0",
                  "S: 235 2.7.0 Authentication successful"},
                 kPlainLog},
        AuthCase{"NonAsciiCredentials",
                 {"250-fake.test", "250 AUTH PLAIN"},
                 "j\x81rgen",
                 "p\x94ss",
                 {"C: AUTH PLAIN", "S: 334 ", "C: AGqBcmdlbgBwlHNz",
                  "S: 235 2.7.0 Authentication successful"},
                 kPlainLog}),
    [](const testing::TestParamInfo<AuthCase>& info) { return info.param.name; });

struct RefusalCase {
  const char* name;
  std::vector<std::string> ehlo;
  FakeSmtpServer::Rule rule;
  std::string password;
  std::vector<std::string> expected_log;  // in this order among the SMTP lines
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class SmtpAuthenticationRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(SmtpAuthenticationRefused, KeepsTheFileAndReportsAnSmtpError) {
  const RefusalCase& c = GetParam();
  FakeSmtpServer::Options options;
  options.ehlo = c.ehlo;
  SmtpRun run(options);
  if (!c.rule.on.empty()) run.server.AddRule(c.rule);
  run.ConfigureBox({"SmtpUser=user", "SmtpPass=" + c.password});
  run.dir.WriteHostExe(true);
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  auto at = run.smtp_log.begin();
  for (const std::string& line : c.expected_log) {
    at = std::find(at, run.smtp_log.end(), line);
    ASSERT_NE(at, run.smtp_log.end()) << "missing in order: " << line << "\n" << result.log;
  }
  for (const std::string& command : run.server.Commands())
    EXPECT_FALSE(command.starts_with("MAIL")) << command;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SmtpAuthenticationRefused,
    testing::Values(
        RefusalCase{"WrongPassword",
                    {"250-fake.test", "250 AUTH LOGIN"},
                    {},
                    "wrong",
                    {"+ Sending Password", "! 535 5.7.8 Error: authentication failed",
                     "? Error sending: OUT\\M0001.OUT"}},
        RefusalCase{"WrongPlainCredentials",
                    {"250-fake.test", "250 AUTH PLAIN"},
                    {},
                    "wrong",
                    {"+ Sending Username/Password", "! 535 5.7.8 Error: authentication failed"}},
        RefusalCase{"AuthNotSupported",
                    {"250-fake.test", "250 AUTH LOGIN"},
                    {"AUTH LOGIN", {"504 5.5.4 not here"}},
                    "secret",
                    {"+ Sending AUTH LOGIN", "! 504 5.5.4 not here"}},
        RefusalCase{"EhloRefused",
                    {"250 unused"},
                    {"EHLO", {"502 5.5.2 EHLO not known"}},
                    "secret",
                    {"! 502 5.5.2 EHLO not known", "? ", "? 502 5.5.2 EHLO not known"}}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(SmtpSession, NoMechanismOfferedSendsNoAuthCommand) {
  FakeSmtpServer::Options options;
  options.ehlo = {"250-fake.test", "250 8BITMIME"};
  SmtpRun run(options);
  run.ConfigureBox({"SmtpUser=user", "SmtpPass=secret"});
  run.dir.WriteHostExe(true);
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(run.server.Commands(), (std::vector<std::string>{"EHLO example.org", "QUIT"}));
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  // The greeting failure of a normal file is an SMTP error of the run.
  EXPECT_EQ(result.exit_code, 2);
}

struct GreetingCase {
  const char* name;
  FakeSmtpServer::Rule rule;
  bool accepted;
  std::vector<std::string> expected_log;  // the lines after "SMTP Starting to"
};
void PrintTo(const GreetingCase& c, std::ostream* os) { *os << c.name; }

class SmtpGreeting : public testing::TestWithParam<GreetingCase> {};

TEST_P(SmtpGreeting, AcceptsOnlyAFinal220Line) {
  const GreetingCase& c = GetParam();
  SmtpRun run;
  run.server.AddRule(c.rule);
  run.Configure({"$SmtpTimeOut=1"});
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, c.accepted ? 0 : 2) << result.log;
  EXPECT_EQ(run.Kept("M0001.OUT"), !c.accepted);
  std::vector<std::string> expected = {"~ SMTP Starting to 127.0.0.1"};
  expected.insert(expected.end(), c.expected_log.begin(), c.expected_log.end());
  for (std::string& line : expected) {
    if (std::size_t at = line.find("<port>"); at != std::string::npos)
      line.replace(at, 6, std::to_string(run.server.port()));
  }
  EXPECT_EQ(LogFrom(run.smtp_log, expected.front(), expected.size()), expected) << result.log;
}

using Fault = FakeSmtpServer::Fault;

INSTANTIATE_TEST_SUITE_P(
    Variants, SmtpGreeting,
    testing::Values(
        GreetingCase{"MultiLine",
                     {"<greeting>", {"220-fake.test first", "220-second", "220 ready"}},
                     true,
                     {"  220-fake.test first", "  220-second", "  220 ready",
                      "= SMTP Connection etablished"}},
        GreetingCase{"CodeAlone",
                     {"<greeting>", {"220"}},
                     false,
                     {"  220", "? SMTP Server 127.0.0.1 not reachable"}},
        GreetingCase{"OtherCode",
                     {"<greeting>", {"554 5.3.2 busy"}},
                     false,
                     {"? 554 5.3.2 busy", "? SMTP Server 127.0.0.1 not reachable"}},
        GreetingCase{"Silence",
                     {"<greeting>", {}, Fault::kSilence},
                     false,
                     {"? SMTP Server 127.0.0.1 not found",
                      "? Connection to 127.0.0.1 port <port> failed: no greeting within 5 seconds",
                      "? SMTP Server 127.0.0.1 not reachable"}},
        GreetingCase{"Closed",
                     {"<greeting>", {}, Fault::kClose},
                     false,
                     {"? SMTP Server 127.0.0.1 not found",
                      "? Connection to 127.0.0.1 port <port> failed: connection closed before the "
                      "greeting",
                      "? SMTP Server 127.0.0.1 not reachable"}}),
    [](const testing::TestParamInfo<GreetingCase>& info) { return info.param.name; });

TEST(SmtpSession, UnreachableServerIsNotFound) {
  SmtpRun run;
  run.Configure();
  run.server.Stop();  // nothing listens on the port any more
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_TRUE(Contains(run.smtp_log, "? SMTP Server 127.0.0.1 not found"));
  EXPECT_TRUE(Contains(run.smtp_log, "? SMTP Server 127.0.0.1 not reachable"));
  EXPECT_TRUE(run.Kept("M0001.OUT"));
}

// The message was delivered, but a QUIT not answered with "221" still ends
// the run with the SMTP error status.
TEST(SmtpSession, QuitWithoutTheClosingReplyIsAnError) {
  for (Fault fault : {Fault::kNone, Fault::kClose}) {
    SCOPED_TRACE(fault == Fault::kNone ? "other reply" : "closed");
    SmtpRun run;
    run.server.AddRule({"QUIT", {"500 5.5.1 what?"}, fault});
    run.Configure();
    run.Outgoing("M0001.OUT", kNormalFile);
    RunResult result = run.Run();
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_FALSE(run.Kept("M0001.OUT"));
    EXPECT_EQ(run.smtp_log.back(), "= SMTP to 127.0.0.1 disconnected");
  }
}

TEST(SmtpSession, NothingToSendMakesNoConnection) {
  SmtpRun run;
  run.Configure();
  run.Outgoing("MAIL.EML", kNormalFile);  // *.EML alone opens no connection
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(run.smtp_log, std::vector<std::string>{"% SMTP Nothing to send to 127.0.0.1"});
  EXPECT_EQ(run.server.ConnectionCount(), 0);
  EXPECT_TRUE(run.Kept("MAIL.EML"));
}

}  // namespace
}  // namespace postil::test
