// The SMTP-after-POP wait: the SMTP side starts only after the POP3 login,
// and a POP3 failure or a time-out keeps it from starting at all.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "e2e/smtp_fixture.h"
#include "support/fake_pop3_server.h"

namespace postil::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

const char kNormalFile[] = "From x\nFrom: a@example.org\nTo: b@example.net\n\nbody\n";

// Makes the login on `pop3` come late, by `delay`, and its session last a
// while after it (the STAT answer comes late), so the login is later than
// any start the wait would allow and lasts longer than one poll of it.
// `*login` gets the moment the password was accepted; read it after Stop().
void SlowLogin(FakePop3Server& pop3, std::chrono::milliseconds delay,
               std::optional<SteadyClock::time_point>* login) {
  pop3.SetCommandHook([delay, login](const std::string& command) {
    if (command.starts_with("USER ")) std::this_thread::sleep_for(delay);
    if (command == "PASS secret") *login = SteadyClock::now();
    if (command == "STAT") std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
}

std::vector<std::string> WaitLines(int time_out) {
  return {"  Smtp After Pop3 enabled",
          "  Waiting for Pop3 Authentification, Timeout (" + std::to_string(time_out) + " sec.)"};
}

TEST(SmtpAfterPop, TimeOutKeepsTheSmtpSideFromStarting) {
  SmtpRun run;
  run.Configure({"$SmtpAfterPop=on", "$SmtpAfterPopTimeOut=1"});
  run.Outgoing("M0001.OUT", kNormalFile);
  auto start = SteadyClock::now();
  RunResult result = run.Run();
  EXPECT_GE(SteadyClock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(result.exit_code, 2) << result.log;
  std::vector<std::string> expected = WaitLines(1);
  expected.push_back("? Timeout during Pop3 Authentification");
  EXPECT_EQ(run.smtp_log, expected);
  EXPECT_EQ(run.server.ConnectionCount(), 0);
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  // No SMTP server was ever served, so the notices name none.
  ASSERT_TRUE(run.dir.Exists("IN/M0000.MSG"));
  EXPECT_TRUE(run.dir.Read("IN/M0000.MSG").starts_with("HELO \r\nRCPT TO: "));
}

TEST(SmtpAfterPop, Pop3LoginErrorGivesExitCode3) {
  FakePop3Server pop3({});  // an empty mailbox
  SmtpRun run;
  run.pop3_server = "127.0.0.1";
  run.pop3_port = pop3.port();
  run.pop3_password = "wrong";
  run.Configure({"$SmtpAfterPop=on", "$SmtpAfterPopTimeOut=10"});
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(pop3.ConnectionCount(), 1);
  EXPECT_EQ(result.exit_code, 3) << result.log;
  EXPECT_TRUE(Contains(run.smtp_log, "? Error during Pop3 Authentification")) << result.log;
  EXPECT_EQ(run.server.ConnectionCount(), 0);
  EXPECT_TRUE(run.Kept("M0001.OUT"));
}

TEST(SmtpAfterPop, SendsOnlyAfterTheLoginAndTheDelay) {
  FakePop3Server pop3({});  // an empty mailbox
  std::optional<SteadyClock::time_point> login;
  SlowLogin(pop3, std::chrono::milliseconds(500), &login);
  SmtpRun run;
  run.pop3_server = "127.0.0.1";
  run.pop3_port = pop3.port();
  run.Configure({"$SmtpAfterPop=on", "$SmtpAfterPopTimeOut=10", "$SmtpAfterPopDelay=1"});
  run.dir.EnableDebug();
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  pop3.Stop();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_TRUE(Contains(run.smtp_log, "  1 second(s) delay after Pop3 Authentification ..."))
      << result.log;
  auto connects = run.server.ConnectTimes();
  ASSERT_EQ(connects.size(), 1u);
  ASSERT_TRUE(login);
  EXPECT_GE(connects[0] - *login, std::chrono::milliseconds(1000));
  EXPECT_FALSE(run.Kept("M0001.OUT"));
}

}  // namespace
}  // namespace postil::test
