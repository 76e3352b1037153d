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

// The password reaches no file and no output, in debug mode (every log
// level and the protocol lines) and with the paths this program takes when
// a server misbehaves: a message cut off past its bound, STAT refused.
TEST(LogSafety, NoPasswordInAnyOutputInDebugMode) {
  const std::string password = "Pw-7f3a-unique";
  FakePop3Server::Options options;
  options.password = password;
  const std::string first = Message("<1@x>");
  Pop3Run run({first, Message("<2@x>")}, options);
  run.dir.EnableDebug();
  run.Configure({"$Pop3Pass=" + password, "$Pop3MaxLen=5000"});
  std::string seen;
  run.server.SetRetrFault(1, FakePop3Server::WireForm(first).size() - 3,
                          FakePop3Server::RetrFault::kEndless);
  run.Run();
  EXPECT_TRUE(run.Logged("? Message 1 longer than 5000 Bytes (Pop3MaxLen), not fetched"));
  seen += run.result.log + run.result.console;
  run.server.SetRetrFault(1, std::string::npos, FakePop3Server::RetrFault::kEndless);
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);  // logged in with it, fetched both
  seen += run.result.log + run.result.console;
  run.server.SetReply("STAT", "+OK 2147483648 1");
  run.Run();
  seen += run.result.log + run.result.console;
  seen += RunPostilIn(run.dir, {"--check", "POSTIL.CFG"}).console;
  seen += run.dir.Read("QV-PPP.LOG");
  for (const std::string& name : run.SpoolNames()) seen += run.dir.Read("IN/" + name);
  EXPECT_TRUE(run.Logged("+ Sending PASS"));  // the login was logged, in debug mode
  EXPECT_EQ(seen.find(password), std::string::npos);
}

}  // namespace
}  // namespace postil::test
