// The SMTP-after-POP wait: the SMTP side starts only after the POP3 login,
// and a POP3 failure or a time-out keeps it from starting at all.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "e2e/smtp_fixture.h"
#include "support/fake_server.h"

namespace postil::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

const char kNormalFile[] = "From x\nFrom: a@example.org\nTo: b@example.net\n\nbody\n";

// Just enough POP3 for a login on an empty mailbox. The STAT answer comes
// late, so the login lasts longer than one poll of the wait.
class MiniPop3 {
 public:
  explicit MiniPop3(int greeting_delay_ms = 0)
      : greeting_delay_ms_(greeting_delay_ms), server_([this](FakeConnection& c) { Serve(c); }) {}

  int port() const { return server_.port(); }
  int Connections() const { return server_.ConnectionCount(); }
  std::optional<SteadyClock::time_point> LoginTime() const {
    std::lock_guard lock(mutex_);
    return login_;
  }

 private:
  void Serve(FakeConnection& c) {
    c.Stall(greeting_delay_ms_);
    c.SendLine("+OK ready");
    std::string line;
    while (c.ReadLine(&line) == FakeConnection::ReadResult::kLine) {
      if (line.starts_with("USER")) {
        c.SendLine("+OK");
      } else if (line == "PASS secret") {
        {
          std::lock_guard lock(mutex_);
          login_ = SteadyClock::now();
        }
        c.SendLine("+OK logged in");
      } else if (line.starts_with("PASS")) {
        c.SendLine("-ERR wrong password");
      } else if (line == "STAT") {
        c.Stall(300);
        c.SendLine("+OK 0 0");
      } else if (line == "QUIT") {
        c.SendLine("+OK bye");
        return;
      } else {
        c.SendLine("-ERR");
      }
    }
  }

  const int greeting_delay_ms_;
  mutable std::mutex mutex_;
  std::optional<SteadyClock::time_point> login_;  // guarded by mutex_
  FakeServer server_;
};

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
  MiniPop3 pop3;
  SmtpRun run;
  run.pop3_server = "127.0.0.1";
  run.pop3_port = pop3.port();
  run.pop3_password = "wrong";
  run.Configure({"$SmtpAfterPop=on", "$SmtpAfterPopTimeOut=10"});
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  if (pop3.Connections() == 0) GTEST_SKIP() << "the POP3 worker does not log in yet";
  EXPECT_EQ(result.exit_code, 3) << result.log;
  EXPECT_TRUE(Contains(run.smtp_log, "? Error during Pop3 Authentification")) << result.log;
  EXPECT_EQ(run.server.ConnectionCount(), 0);
  EXPECT_TRUE(run.Kept("M0001.OUT"));
}

TEST(SmtpAfterPop, SendsOnlyAfterTheLoginAndTheDelay) {
  MiniPop3 pop3(/*greeting_delay_ms=*/500);
  SmtpRun run;
  run.pop3_server = "127.0.0.1";
  run.pop3_port = pop3.port();
  run.Configure({"$SmtpAfterPop=on", "$SmtpAfterPopTimeOut=10", "$SmtpAfterPopDelay=1"});
  run.dir.EnableDebug();
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  if (pop3.Connections() == 0) GTEST_SKIP() << "the POP3 worker does not log in yet";
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_TRUE(Contains(run.smtp_log, "  1 second(s) delay after Pop3 Authentification ..."))
      << result.log;
  auto connects = run.server.ConnectTimes();
  ASSERT_EQ(connects.size(), 1u);
  ASSERT_TRUE(pop3.LoginTime());
  EXPECT_GE(connects[0] - *pop3.LoginTime(), std::chrono::milliseconds(1000));
  EXPECT_FALSE(run.Kept("M0001.OUT"));
}

}  // namespace
}  // namespace postil::test
