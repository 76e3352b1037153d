// The SMTP session over an in-memory server that is not on this machine,
// which no loopback test can stage.
#include "smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "e2e/smtp_fixture.h"
#include "support/fixed_clock.h"
#include "support/replying_transport.h"

namespace postil {
namespace {

std::string AuthServer(const std::string& command) {
  if (command.starts_with("EHLO")) return "250-far.example\r\n250 AUTH PLAIN\r\n";
  if (command == "AUTH PLAIN") return "334 \r\n";
  if (command == "QUIT") return "221 bye\r\n";
  return "235 ok\r\n";
}

TEST(SmtpSessionTest, APlainPasswordToAFarServerIsLoggedOncePerServer) {
  test::HostDir dir;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  test::FixedClock clock{test::SampleTime()};
  std::vector<std::string> commands;
  {
    RunState state(clock);
    state.log.SetupLog(std::nullopt);
    Config config;
    SmtpAccount account;
    account.Server = "far.example";
    account.User = "anna";
    account.Password = "secret";
    SmtpSession session(state, config, account,
                        std::make_unique<test::ReplyingTransport>("220 far ready\r\n", AuthServer,
                                                                  "192.0.2.7", &commands));
    for (int connection = 0; connection < 2; ++connection) {
      ASSERT_TRUE(session.SmtpConnect());
      std::string reply;
      EXPECT_TRUE(session.SmtpGreet("point.example", &reply)) << reply;
      session.SmtpQuit();
    }
    state.log.CloseLogs();
  }
  std::filesystem::current_path(old_dir);
  const std::vector<std::string> log = test::SmtpLogLines(dir.Read("QUIL.LOG"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "! Password sent without TLS to far.example"), 1)
      << dir.Read("QUIL.LOG");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH PLAIN"), 2);
}

}  // namespace
}  // namespace postil
