// Mail collection as the host sees it: the inbound spool files byte for
// byte, the dialogue the server received, the log and the exit code.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

const Lines kLogin = {"USER user", "PASS secret", "STAT"};

Lines Dialogue(const Lines& message_commands) {
  Lines all = kLogin;
  all.insert(all.end(), message_commands.begin(), message_commands.end());
  all.push_back("QUIT");
  return all;
}

std::string StatLine(const std::vector<std::string>& messages) {
  std::uint64_t size = 0;
  for (const std::string& m : messages) size += FakePop3Server::StatedSize(m);
  return "% " + std::to_string(messages.size()) + " Messages with " + std::to_string(size) +
         " (Bytes)";
}

TEST(Pop3Fetch, MessagesArriveByteForByteAndAreDeleted) {
  using namespace std::string_literals;
  // Dot-stuffed body lines keep both dots on disk, as batched SMTP wants
  // them; CRs vanish wherever they are, NUL bytes stay.
  const std::string first =
      "From: Anna Berg <anna@example.org>\r\nTo: me@example.org\r\n"
      "Subject: Hello\r\nMessage-ID: <1@example.org>\r\n\r\n"
      ".leading dot\r\n.\r\nstray\rCR and a \0 byte\r\n\r\nlast line"s;
  const std::vector<std::string> messages = {first, Message("<2@example.org>")};
  Pop3Run run(messages);
  run.Configure();
  run.Run();

  EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
  EXPECT_EQ(run.server.Commands(),
            Dialogue({"TOP 1 0", "RETR 1", "DELE 1", "TOP 2 0", "RETR 2", "DELE 2"}));
  EXPECT_TRUE(run.server.Mailbox().empty());
  EXPECT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG"}));
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes("From: Anna Berg <anna@example.org>\nTo: me@example.org\nSubject: Hello\n"
                       "Message-ID: <1@example.org>\n\n..leading dot\n..\nstrayCR and a \0 byte\n"
                       "\nlast line\n.\n"s));
  EXPECT_EQ(run.Spool("M0001.MSG"),
            SpoolBytes("From: Anna Berg <anna@example.org>\nTo: me@example.org\nSubject: Hello\n"
                       "Message-ID: <2@example.org>\n\nBody line\n.\n"));
  EXPECT_EQ(run.log, (Lines{
                         "  Creating directory: IN\\",
                         "~ POP3 Starting to 127.0.0.1",
                         "  +OK POP3 fake server ready",
                         "+ Sending USER",
                         "+ Sending PASS",
                         "= POP3 Connection etablished",
                         StatLine(messages),
                         "  Message 1 <1@example.org>" + Block(),
                         "  Message 2 <2@example.org>" + Block(),
                         "= POP3 to 127.0.0.1 disconnected",
                     }));
}

TEST(Pop3Fetch, LowestFreeNameIsTaken) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.Configure();
  run.dir.Write("IN/M0000.MSG", "host's");
  run.dir.Write("IN/M0002.MSG", "host's");
  run.Run();
  EXPECT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG", "M0002.MSG", "M0003.MSG"}));
  EXPECT_EQ(run.dir.Read("IN/M0000.MSG"), "host's");
  EXPECT_NE(run.Spool("M0001.MSG").find("<1@x>"), std::string::npos);
  EXPECT_NE(run.Spool("M0003.MSG").find("<2@x>"), std::string::npos);
  EXPECT_FALSE(run.Logged("  Creating directory: IN\\"));
}

// A message at the limit is fetched; one octet more gives a stub and the
// message stays on the server. X-QV-Mode lines never reach the spool.
TEST(Pop3Fetch, SizeLimitStubAndSecurityRule) {
  const std::string at_limit = Message("<1@x>", "Hello", std::string(200, 'b') + "\n");
  const std::string header =
      "From: Anna Berg <anna@example.org>\nX-QV-Mode: Message-ID Request\n"
      "Subject: Big\nMessage-ID: <2@x>\n\n";
  std::string too_long = header + "x\n";
  const std::uint64_t limit = FakePop3Server::StatedSize(at_limit);
  while (FakePop3Server::StatedSize(too_long) < limit + 1)
    too_long.insert(too_long.size() - 1, "y");
  ASSERT_EQ(FakePop3Server::StatedSize(too_long), limit + 1);
  const std::string hostile =
      "From: Anna Berg <anna@example.org>\nx-qv-mode: TopOfMail\n"
      "Message-ID: <3@x>\n\nX-QV-Mode: in the body stays\n";
  Pop3Run run({at_limit, too_long, hostile});
  run.Configure({"$Pop3MaxLen=" + std::to_string(limit)});
  run.Run();

  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(),
            Dialogue({"TOP 1 0", "RETR 1", "DELE 1", "TOP 2 0", "TOP 3 0", "RETR 3", "DELE 3"}));
  EXPECT_EQ(run.server.Mailbox(), Lines{too_long});
  EXPECT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG", "M0002.MSG"}));
  EXPECT_EQ(run.Spool("M0001.MSG"),
            SpoolBytes("X-QV-Mode: TopOfMail\nSummary: Message too long, ignored (Original Size: " +
                       std::to_string(limit + 1) +
                       " Byte)\nFrom: Anna Berg <anna@example.org>\nSubject: Big\n"
                       "Message-ID: <2@x>\n\n.\n"));
  EXPECT_EQ(run.Spool("M0002.MSG"),
            SpoolBytes("From: Anna Berg <anna@example.org>\nMessage-ID: <3@x>\n\n"
                       "X-QV-Mode: in the body stays\n.\n"));
  const std::string violation = "! Security Violation (Backdoor attack), String removed!";
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), violation), 3);  // TOP 2, TOP 3, RETR 3
  EXPECT_TRUE(run.Logged("- Message to long: <2@x>" + Block("Big")));
}

TEST(Pop3Fetch, HeaderWithoutEmptyLineAndEnvelopeTo) {
  const std::string no_body = "From: a@x\nEnvelope-To:  box@example.org \nSubject: s";
  Pop3Run run({no_body});
  run.Configure({"$Pop3UseEnvelope=y"});
  run.Run();
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes("From: a@x\nEnvelope-To:  box@example.org \nSubject: s\n\n.\n",
                       "box@example.org"));
}

TEST(Pop3Fetch, EnvelopeToIsIgnoredUnlessSwitchedOn) {
  Pop3Run run({"Envelope-To: box@example.org\n\nbody\n"});
  run.Configure({"$Pop3Envelope=user@local"});
  run.Run();
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes("Envelope-To: box@example.org\n\nbody\n.\n", "user@local"));
}

// The first of two accounts is unreachable: the second is still served
// and the run ends with the POP3 error bit.
TEST(Pop3Fetch, SecondAccountAfterAnUnreachableOne) {
  Pop3Run run({Message("<1@x>")});
  run.dir.Write("POSTIL.CFG",
                "$Pop3Server=127.0.0.1 127.0.0.1\r\n$Pop3Port=1 " +
                    std::to_string(run.server.port()) +
                    "\r\n$Pop3User=nobody user\r\n$Pop3Pass=none secret\r\n$Pop3Spool=IN\r\n"
                    "$Pop3TimeOut=5\r\n$SmtpServer=disabled\r\n");
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.server.Commands(), Dialogue({"TOP 1 0", "RETR 1", "DELE 1"}));
  EXPECT_EQ(run.FetchedNames(), Lines{"M0000.MSG"});  // then the operator notices
  EXPECT_TRUE(LoggedInOrder(run.log,
                            {"  Creating directory: IN\\", "~ POP3 Starting to 127.0.0.1",
                             "? POP3 Server 127.0.0.1 not found", "~ POP3 Starting to 127.0.0.1"}));
}

TEST(Pop3Fetch, StatisticOnlyAndEmptyMailbox) {
  Pop3Run statistic({Message("<1@x>")});
  statistic.Configure();
  statistic.Run({"/OpenPop3Only"});
  EXPECT_EQ(statistic.server.Commands(), Dialogue({}));
  EXPECT_EQ(statistic.server.Mailbox().size(), 1u);
  EXPECT_TRUE(statistic.SpoolNames().empty());

  Pop3Run empty({});
  empty.Configure();
  empty.Run();
  EXPECT_EQ(empty.result.exit_code, 0);
  EXPECT_EQ(empty.server.Commands(), Dialogue({}));
  EXPECT_TRUE(empty.Logged("% 0 Messages with 0 (Bytes)"));
}

TEST(Pop3Fetch, NoPop3SwitchAndDisabledServer) {
  for (const auto& [config, args] : std::vector<std::pair<std::string, Lines>>{
           {"$Pop3Server=disabled\r\n$SmtpServer=disabled\r\n", {}},
           {"$Pop3Server=127.0.0.1\r\n$SmtpServer=disabled\r\n", {"/NoPop3"}}}) {
    SCOPED_TRACE(config);
    Pop3Run run({Message("<1@x>")});
    run.dir.Write("POSTIL.CFG", config);
    run.Run(args);
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_TRUE(run.log.empty());
    EXPECT_EQ(run.server.ConnectionCount(), 0);
  }
}

}  // namespace
}  // namespace postil::test
