// Refusals by the server: the bounce of a batched message, the reset that
// keeps the connection usable for the next file, and the SMTP error status.
#include <gtest/gtest.h>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

using Fault = FakeSmtpServer::Fault;

TEST(SmtpBounce, RefusedRecipientBouncesToTheSenderAndResets) {
  SmtpRun run;
  run.server.AddRule({"RCPT TO:<carl@example.net>", {kRefusal}});
  run.ConfigureBox();
  run.dir.WriteHostExe(true);  // no operator notices in the way
  run.Outgoing("M0001.OUT", kBatchedFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_EQ(run.server.Commands(),
            (std::vector<std::string>{"HELO host.example", "MAIL FROM:<anna@example.org>",
                                      "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>",
                                      "RSET", "QUIT"}));
  EXPECT_EQ(LogFrom(run.smtp_log, std::string("? ") + kRefusal, 4),
            (std::vector<std::string>{std::string("? ") + kRefusal, "  Reset Connection",
                                      "  250 2.0.0 Ok", "? Error sending: OUT\\M0001.OUT"}))
      << result.log;

  // No POP3 directory was selected: the bounce lands in the working
  // directory. The lines end with CR LF, as no message was scanned.
  ASSERT_TRUE(run.dir.Exists("M0000.MSG")) << result.log;
  EXPECT_EQ(MaskLocalMailStamps(run.dir.Read("M0000.MSG")), Bounce("anna@example.org", kRefusal));
}

// The next file's transaction starts clean after a refused one, also for a
// normal spool file; without the reset the server refuses its MAIL FROM.
TEST(SmtpBounce, RefusedNormalFileIsResetBeforeTheNextFile) {
  SmtpRun run;
  run.server.AddRule({"RCPT TO:<nobody@example.net>", {"550 5.1.1 unknown user"}});
  run.Configure();
  run.Outgoing("M0001.OUT", "From x\nFrom: a@example.org\nTo: nobody@example.net\n\nx\n");
  run.Outgoing("M0002.OUT", "From x\nFrom: a@example.org\nTo: bob@example.net\n\ny\n");
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_FALSE(run.Kept("M0002.OUT")) << result.log;
  EXPECT_EQ(run.server.Commands(),
            (std::vector<std::string>{"HELO example.org", "MAIL FROM:<a@example.org>",
                                      "RCPT TO:<nobody@example.net>", "RSET",
                                      "MAIL FROM:<a@example.org>", "RCPT TO:<bob@example.net>",
                                      "DATA", ".", "QUIT"}));
  EXPECT_EQ(LogFrom(run.smtp_log, "? RCPT TO:<nobody@example.net>", 4),
            (std::vector<std::string>{"? RCPT TO:<nobody@example.net>", "? 550 5.1.1 unknown user",
                                      "  Reset Connection", "  250 2.0.0 Ok"}))
      << result.log;
  // A normal file gets no bounce.
  EXPECT_FALSE(run.dir.Exists("M0000.MSG"));
}

struct FailureCase {
  const char* name;
  FakeSmtpServer::Rule rule;
  std::vector<std::string> commands;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class BatchedFailure : public testing::TestWithParam<FailureCase> {};

// No bounce in these cases, but the file stays and the run reports it.
TEST_P(BatchedFailure, KeepsTheFileAndSetsTheSmtpError) {
  const FailureCase& c = GetParam();
  SmtpRun run;
  run.server.AddRule(c.rule);
  run.ConfigureBox();
  run.dir.WriteHostExe(true);
  run.Outgoing("M0001.OUT", kBatchedFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_EQ(run.server.Commands(), c.commands);
  EXPECT_FALSE(run.dir.Exists("M0000.MSG"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, BatchedFailure,
    testing::Values(
        // The greeting of a batched file fails: the file stays unsent, so
        // the run must not end as a success.
        FailureCase{"HeloRefused",
                    {"HELO", {"554 5.7.1 go away"}},
                    {"HELO host.example", "QUIT"}},
        FailureCase{"DataRefused",
                    {".", {"554 5.6.0 content rejected"}},
                    {"HELO host.example", "MAIL FROM:<anna@example.org>",
                     "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>", "DATA", ".",
                     "QUIT"}},
        FailureCase{"ClosedInTheCommands",
                    {"RCPT TO:<carl@example.net>", {}, Fault::kClose},
                    {"HELO host.example", "MAIL FROM:<anna@example.org>",
                     "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>"}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(SmtpBounce, LostConnectionIsLoggedOnce) {
  SmtpRun run;
  run.server.AddRule({"MAIL", {}, Fault::kClose});
  run.ConfigureBox();
  run.dir.WriteHostExe(true);
  run.Outgoing("M0001.OUT", kBatchedFile);
  run.Outgoing("M0002.OUT", kBatchedFile);
  RunResult result = run.Run();
  EXPECT_EQ(std::count(run.smtp_log.begin(), run.smtp_log.end(), "? Connection lost"), 1)
      << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_TRUE(run.Kept("M0002.OUT"));
  EXPECT_EQ(result.exit_code, 2);
}

}  // namespace
}  // namespace postil::test
