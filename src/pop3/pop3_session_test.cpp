// The POP3 login over an in-memory server, which can stand anywhere: a
// loopback test cannot stage a server that is not on this machine.
#include "pop3/pop3_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "e2e/pop3_fixture.h"
#include "filter/rule_table.h"
#include "pop3/pop3_context.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_stores.h"
#include "support/fixed_clock.h"
#include "support/pop3_parts.h"
#include "support/replying_transport.h"

namespace postil {
namespace {

// The POP3 log of one login to a server at `address`.
std::vector<std::string> LoginLog(const std::string& address) {
  test::HostDir dir;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  test::FixedClock clock{test::SampleTime()};
  std::vector<std::string> commands;
  {
    RunState state(clock);
    state.log.SetupLog(std::nullopt);
    Config config;
    RuleTable rules;
    Pop3Account account;
    account.server = "far.example";
    test::Pop3Parts parts(
        state, config, rules, account,
        std::make_unique<test::ReplyingTransport>(
            "+OK ready\r\n", [](const std::string&) { return std::string("+OK\r\n"); }, address,
            &commands));
    Pop3Context& context = parts.context;
    EXPECT_TRUE(Pop3Connect(context));
    Pop3Quit(context);
    state.log.CloseLogs();
  }
  std::filesystem::current_path(old_dir);
  EXPECT_EQ(commands, (std::vector<std::string>{"USER ", "PASS ", "QUIT"}));
  return test::Pop3LogLines(dir.Read("QUIL.LOG"));
}

TEST(Pop3SessionTest, APlainPasswordIsLoggedOnlyForAFarServer) {
  const std::string warning = "! Password sent without TLS to far.example";
  std::vector<std::string> far = LoginLog("192.0.2.7");
  EXPECT_EQ(std::count(far.begin(), far.end(), warning), 1);
  std::vector<std::string> near = LoginLog("127.0.0.1");
  EXPECT_EQ(std::count(near.begin(), near.end(), warning), 0);
}

}  // namespace
}  // namespace postil
