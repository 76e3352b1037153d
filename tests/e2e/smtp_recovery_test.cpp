// What one bad file or one refusal must not cost the others: the files
// after an abandoned one, the messages of a batched file that were already
// taken, the refusal whose bounce could not be written.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

const char kGoodFile[] = "From x\nFrom: o@x\nTo: r@x\n\ngood\n";

struct AbandonCase {
  const char* name;
  std::string file;
  std::string reason;  // the log line that abandons it
};
void PrintTo(const AbandonCase& c, std::ostream* os) { *os << c.name; }

class AbandonedFile : public testing::TestWithParam<AbandonCase> {};

TEST_P(AbandonedFile, TheFilesAfterItGoOverANewConnection) {
  const AbandonCase& c = GetParam();
  SmtpRun run;
  run.Configure();
  // "M????.OUT" files go before "*.EML" files: the bad one comes first.
  run.Outgoing("M0001.OUT", c.file);
  run.Outgoing("A.EML", kGoodFile);
  run.dir.MakeDir("OUT/M0003.OUT");  // a directory is no spool file
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_FALSE(run.Kept("A.EML"));
  EXPECT_EQ(run.server.ConnectionCount(), 2);
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 2u) << result.log;
  EXPECT_FALSE(messages[0].complete);
  EXPECT_EQ(messages[1].connection, 1);
  EXPECT_EQ(messages[1].data, "From: o@x\r\nTo: r@x\r\n\r\ngood\r\n.\r\n");
  EXPECT_TRUE(messages[1].accepted);
  EXPECT_EQ(LogFrom(run.smtp_log, c.reason, 7),
            (Lines{c.reason, "? Error sending: OUT\\M0001.OUT", "= SMTP to 127.0.0.1 disconnected",
                   "~ SMTP Reconnecting to 127.0.0.1", "  220 fake.test ESMTP ready",
                   "= SMTP Connection etablished", "- Mail from: <o@x>"}))
      << result.log;
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, AbandonedFile,
    testing::Values(AbandonCase{"BatchedWithoutDot",
                                "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\nDATA\n\nbody\n",
                                "? Error: Spoolfile ends without \".\", message abandoned"},
                    AbandonCase{"LineBeyondTheLimit",
                                "From x\nFrom: a@b\nTo: c@d\n\n" + std::string(2 << 20, 'x') + "\n",
                                "? Error: Spoolfile unreadable, message abandoned"}),
    [](const testing::TestParamInfo<AbandonCase>& info) { return info.param.name; });

// Every connection of a server's turn ends with an abandoned file: the
// turn gives up after ten, the rest waits for the next run.
TEST(AbandonedFiles, ReconnectingIsBounded) {
  SmtpRun run;
  run.Configure();
  for (int i = 1; i <= 11; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "M%04d.OUT", i);
    run.Outgoing(name, "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\nDATA\n\nbody\n");
  }
  run.Outgoing("A.EML", kGoodFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(run.server.ConnectionCount(), 10);
  EXPECT_EQ(run.server.Messages().size(), 10u);
  EXPECT_EQ(run.dir.List("OUT").size(), 12u);
  EXPECT_EQ(
      std::count(run.smtp_log.begin(), run.smtp_log.end(), "~ SMTP Reconnecting to 127.0.0.1"), 9);
  // Said once the tenth connection has ended.
  Lines ends(10, "= SMTP to 127.0.0.1 disconnected");
  ends.push_back("? SMTP Too many abandoned Spoolfiles for 127.0.0.1");
  EXPECT_TRUE(LoggedInOrder(run.smtp_log, ends));
}

// The second message of the file is refused for good: the first, taken,
// must not go again, nor the refusal bounce again, in later runs.
TEST(BatchedMessages, TakenOrBouncedMessagesAreNeverSentAgain) {
  SmtpRun run;
  run.server.AddRule({"RCPT TO:<carl@example.net>", {kRefusal}});
  run.ConfigureBox();
  run.dir.WriteHostExe(true);  // no operator notices in the way
  run.Outgoing("M0001.OUT",
               "HELO host.example\n"
               "MAIL FROM:<anna@example.org>\nRCPT TO:<bob@example.net>\nDATA\n\none\n.\n"
               "MAIL FROM:<anna@example.org>\nRCPT TO:<carl@example.net>\nDATA\n\ntwo\n.\n"
               "QUIT\n");
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE("run " + std::to_string(i));
    RunResult result = run.Run();
    EXPECT_EQ(result.exit_code, i == 1 ? 2 : 0) << result.log;
    EXPECT_EQ(run.dir.List("OUT"), Lines{});
  }
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].data, "\r\none\r\n.\r\n");
  EXPECT_EQ(run.server.Commands(),
            (Lines{"HELO host.example", "MAIL FROM:<anna@example.org>", "RCPT TO:<bob@example.net>",
                   "DATA", ".", "MAIL FROM:<anna@example.org>", "RCPT TO:<carl@example.net>",
                   "RSET", "QUIT"}));
  Lines inbound;
  for (const std::string& name : run.dir.List("")) {
    if (name.ends_with(".MSG")) inbound.push_back(name);
  }
  EXPECT_EQ(inbound, Lines{"M0000.MSG"});
  EXPECT_EQ(MaskLocalMailStamps(run.dir.Read("M0000.MSG")), Bounce("anna@example.org", kRefusal));
}

// A temporary refusal leaves the message in the file, but the message
// taken before it goes: the file keeps the rest byte for byte.
TEST(BatchedMessages, FileIsCutToTheMessagesLeft) {
  SmtpRun run;
  run.server.AddRule({"RCPT TO:<carl@example.net>",
                      {"451 4.3.0 try again later"},
                      FakeSmtpServer::Fault::kNone,
                      1});
  run.ConfigureBox();
  run.dir.WriteHostExe(true);
  const std::string second =
      "MAIL FROM:<anna@example.org>\r\nRCPT TO:<carl@example.net>\r\nDATA\r\n\r\ntwo\r\n.\r\n";
  const std::string third = "\r\nMAIL FROM:<e@f>\r\nRCPT TO:<g@h>\r\nDATA\r\n\r\nthree\r\n.\r\n";
  run.Outgoing("M0001.OUT",
               "HELO host.example\r\nMAIL FROM:<anna@example.org>\r\n"
               "RCPT TO:<bob@example.net>\r\nDATA\r\n\r\none\r\n.\r\n" +
                   second + third + "QUIT\r\n");
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_EQ(run.dir.List("OUT"), Lines{"M0001.OUT"});
  EXPECT_EQ(run.dir.Read("OUT/M0001.OUT"), "HELO host.example\r\n" + second + third + "QUIT\r\n");
  EXPECT_EQ(MaskLocalMailStamps(run.dir.Read("M0000.MSG")),
            Bounce("anna@example.org", "451 4.3.0 try again later"));

  result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_EQ(run.dir.List("OUT"), Lines{});
  Lines sent;
  for (const auto& message : run.server.Messages()) {
    if (message.accepted) sent.push_back(message.data);
  }
  EXPECT_EQ(sent, (Lines{"\r\none\r\n.\r\n", "\r\ntwo\r\n.\r\n", "\r\nthree\r\n.\r\n"}));
}

// With every inbound spool name taken the bounce cannot be written: the
// refused message must stay, or its sender never hears of the refusal.
TEST(BatchedMessages, RefusalWithoutBounceKeepsTheMessage) {
  SmtpRun run;
  run.server.AddRule({"RCPT TO:<carl@example.net>", {kRefusal}});
  run.ConfigureBox();
  run.dir.WriteHostExe(true);
  for (int i = 0; i < 10000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "M%04d.MSG", i);
    run.dir.Write(name, "");
  }
  const std::string file =
      "HELO host.example\n"
      "MAIL FROM:<anna@example.org>\nRCPT TO:<carl@example.net>\nDATA\n\none\n.\n"
      "MAIL FROM:<anna@example.org>\nRCPT TO:<bob@example.net>\nDATA\n\ntwo\n.\n"
      "QUIT\n";
  run.Outgoing("M0001.OUT", file);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_EQ(run.dir.Read("OUT/M0001.OUT"), file);
  EXPECT_EQ(run.server.Commands(), (Lines{"HELO host.example", "MAIL FROM:<anna@example.org>",
                                          "RCPT TO:<carl@example.net>", "RSET", "QUIT"}));
  EXPECT_EQ(LogFrom(run.smtp_log, std::string("? ") + kRefusal, 6),
            (Lines{std::string("? ") + kRefusal, "? Error Spoolfile: M9999.MSG",
                   "? Error writing Bounce to anna@example.org", "  Reset Connection",
                   "  250 2.0.0 Ok", "? Error sending: OUT\\M0001.OUT"}))
      << result.log;
}

}  // namespace
}  // namespace postil::test
