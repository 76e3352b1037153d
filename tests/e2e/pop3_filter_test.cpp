// The mail filter's verdicts carried out on the server's messages: kill,
// skip, header only, redirect and fetch, with the log blocks and the stubs.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kKillfile =
    "--- ALLE\r\n"
    "\"Spam*\"\xAF"
    "DELE\r\n"
    "\"Skip*\"\xAF"
    "SKIP\r\n"
    "\"Head*\"\xAF"
    "HEAD\r\n"
    "\"Redirect*\"\xAF"
    "Envelope-To: boss@example.org\r\n"
    "BYTES@1000\xAF"
    "SKIP\r\n"
    "\"Wanted*\"\xAF"
    "RETR\r\n";

// The reason a verdict's log line gives: the rule as the killfile has it
// (condition, 0xAF, action) and a blank.
std::string Reason(std::string_view condition, std::string_view action) {
  return std::string(condition) + "\xAF" + std::string(action) + " ";
}

std::string WithBody(std::string_view id, std::string_view subject, std::size_t body_bytes) {
  return Message(id, subject, std::string(body_bytes, 'b') + "\n");
}

class Pop3Filter : public ::testing::Test {
 protected:
  Pop3Filter()
      : run_({Message("<1@x>", "Spam offer"), Message("<2@x>", "Skip this"),
              Message("<3@x>", "Head only"), Message("<4@x>", "Redirect me"),
              WithBody("<5@x>", "Large other", 1200), WithBody("<6@x>", "Wanted big", 2000)}) {
    run_.dir.Write("KILL.TXT", kKillfile);
    run_.dir.Write("POSTIL.BFG",
                   "Pop3Server=127.0.0.1\r\nPop3Port=" + std::to_string(run_.server.port()) +
                       "\r\nPop3User=user\r\nPop3Pass=secret\r\nPop3Spool=IN\r\n"
                       "Pop3MaxLen=1500\r\nSmtpServer=disabled\r\n"
                       "PPP_Killfile=KILL.TXT\r\n");
  }
  void Run() {
    run_.result = RunPostilIn(run_.dir, {"POSTIL.BFG"});
    run_.log = Pop3LogLines(run_.result.log);
  }

  Pop3Run run_;
};

TEST_F(Pop3Filter, VerdictsAreCarriedOut) {
  Run();
  EXPECT_EQ(run_.result.exit_code, 0);
  EXPECT_EQ(run_.server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "DELE 1",
                                           "TOP 2 0", "TOP 3 0", "TOP 4 0", "RETR 4", "DELE 4",
                                           "TOP 5 0", "TOP 6 0", "RETR 6", "DELE 6", "QUIT"}));
  EXPECT_EQ(run_.server.Mailbox(),
            (Lines{Message("<2@x>", "Skip this"), Message("<3@x>", "Head only"),
                   WithBody("<5@x>", "Large other", 1200)}));
  for (const std::string& line : Lines{
           "+ Loading Sortwarden Configuration",
           "- Killing: <1@x>" + VerdictBlock("Spam offer", Reason("\"Spam*\"", "DELE")),
           "- Filter: <2@x>" + VerdictBlock("Skip this", Reason("\"Skip*\"", "SKIP")),
           "- Header: <3@x>" + VerdictBlock("Head only", Reason("\"Head*\"", "HEAD")),
           // The filter sees the real size of a message.
           "- Filter: <5@x>" + VerdictBlock("Large other", Reason("BYTES@1000", "SKIP")),
       })
    EXPECT_TRUE(run_.Logged(line)) << line;

  EXPECT_EQ(run_.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG", "M0002.MSG"}));
  // Without the host release the header-only stub is the header as it is.
  EXPECT_EQ(run_.Spool("M0000.MSG"), SpoolBytes(Message("<3@x>", "Head only", "") + "\n.\n"));
  EXPECT_EQ(run_.Spool("M0001.MSG"),
            SpoolBytes(Message("<4@x>", "Redirect me") + ".\n", "boss@example.org"));
  // Fetched in spite of the size limit.
  EXPECT_EQ(run_.Spool("M0002.MSG"), SpoolBytes(WithBody("<6@x>", "Wanted big", 2000) + ".\n"));
}

TEST_F(Pop3Filter, HeaderOnlyStubWithTheHostRelease) {
  run_.dir.WriteHostExe(true);
  Run();
  const std::string head = Message("<3@x>", "Head only", "");
  EXPECT_EQ(run_.Spool("M0000.MSG"),
            SpoolBytes("X-QV-Mode: TopOfMail\nSummary: Message filtered (Original Size: " +
                       std::to_string(FakePop3Server::StatedSize(Message("<3@x>", "Head only"))) +
                       " Byte)\n" + head + ".\n"));
}

}  // namespace
}  // namespace postil::test
