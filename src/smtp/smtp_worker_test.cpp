// The SMTP worker in this process, for a failure that only a seam can
// produce: memory running out in the middle of a server's turn.
#include "smtp/smtp_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "e2e/smtp_fixture.h"
#include "support/failing_clock.h"

namespace postil {
namespace {

const char kNormalFile[] = "From x\nFrom: a@b\nTo: c@d\n\nbody\n";

TEST(SmtpWorkerTest, UnexpectedFailureEndsThatServerOnly) {
  test::HostDir dir;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  // Armed, the next log line of the worker runs out of memory.
  test::FailingClock clock;
  test::FakeSmtpServer first;
  test::FakeSmtpServer second;
  // Mid-transaction, with the connection open and attached to the kill keys.
  first.OnCommand([&](const std::string& line) {
    if (line.starts_with("MAIL")) clock.Arm();
  });
  dir.Write("OUT1/M0001.OUT", kNormalFile);
  dir.Write("OUT2/M0001.OUT", kNormalFile);
  Config config;
  config.SmtpServer = "127.0.0.1 127.0.0.1";
  config.SmtpPort = std::to_string(first.port()) + " " + std::to_string(second.port());
  config.SmtpSpool = "OUT1 OUT2";
  config.SmtpTimeOut = "5";
  {
    RunState state(clock);
    state.log.SetupLog(std::nullopt);
    SmtpWorker(state, config);
    state.log.CloseLogs();
    EXPECT_TRUE(state.SmtpErrorFlag);
    // The failed session let go of the slot: an abort touches nothing.
    EXPECT_FALSE(state.SmtpSocket.Abort());
  }
  std::filesystem::current_path(old_dir);

  std::vector<std::string> log = test::SmtpLogLines(dir.Read("QUIL.LOG"));
  auto failed = std::find(log.begin(), log.end(), "! Runtime Error");
  ASSERT_NE(failed, log.end()) << dir.Read("QUIL.LOG");
  ASSERT_GE(failed - log.begin(), 1);
  EXPECT_EQ(std::vector<std::string>(failed - 1, failed + 2),
            (std::vector<std::string>{"- Mail from: <a@b>", "! Runtime Error",
                                      "~ SMTP Starting to 127.0.0.1"}));
  EXPECT_EQ(first.Commands(), (std::vector<std::string>{"HELO b", "MAIL FROM:<a@b>"}));
  EXPECT_TRUE(dir.Exists("OUT1/M0001.OUT"));
  // The next server is still served.
  ASSERT_EQ(second.Messages().size(), 1u);
  EXPECT_TRUE(second.Messages()[0].accepted);
  EXPECT_FALSE(dir.Exists("OUT2/M0001.OUT"));
}

}  // namespace
}  // namespace postil
