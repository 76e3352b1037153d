// What a server sends reaches the log files only as text a terminal shows:
// control bytes of its greeting, its replies and the header words it sends
// are written in caret notation, in the own log and the host's log alike.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

TEST(LogSafety, ServerControlBytesAreShownAsCarets) {
  FakePop3Server::Options options;
  options.greeting = "+OK \x1B]0;owned\x07 ready";
  const std::string message =
      "From: \x1B[31mAnna\x1B[0m <anna@example.org>\n"
      "Subject: Hi\x1B[2J\x01there\x7F\n"
      "Message-ID: <1@x>\n\nBody line\n";
  Pop3Run run({message, Message("<2@x>")}, options);
  run.server.SetReply("TOP 2 0", "-ERR \x1B[5m gone");
  run.dir.WriteHostConfig("Name=Point\r\n");
  run.Configure();
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.log, (Lines{
                         "  Creating directory: IN\\",
                         "~ POP3 Starting to 127.0.0.1",
                         "  +OK ^[]0;owned^G ready",
                         "+ Sending USER",
                         "+ Sending PASS",
                         "= POP3 Connection etablished",
                         "% 2 Messages with 200 (Bytes)",
                         "  Message 1 <1@x>\n\t\t\t\xC3 from: ^[[31mAnna^[[0m <anna@example.org>\n"
                         "\t\t\t\xC0 Subject: Hi^[[2J^Athere^?",
                         "? TOP 2 0",
                         "? -ERR ^[[5m gone",
                         "= POP3 to 127.0.0.1 disconnected",
                     }));
  EXPECT_EQ(run.dir.Read("QV-PPP.LOG"), run.result.log);
}

}  // namespace
}  // namespace postil::test
