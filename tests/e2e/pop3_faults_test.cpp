// Faults during retrieval and hostile server data: nothing partial ever
// reaches the host, nothing is deleted before it is on disk, the dialogue
// never runs out of step.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;
using Fault = FakePop3Server::RetrFault;

const Lines kToFirstRetr = {"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1"};

// No file under a name the host imports.
bool NoHostFile(const Pop3Run& run) {
  for (const std::string& name : run.SpoolNames()) {
    if (HasForm(name, "Mdddd.MSG")) return false;
  }
  return true;
}

// A copy cut short by the server leaves nothing in the spool directory and
// the message on the server; the connection is given up.
TEST(Pop3Faults, CopyCutShortLeavesNothing) {
  const std::string first = Message("<1@x>", "Hello", "line one\nline two\n");
  const std::size_t wire_size = FakePop3Server::WireForm(first).size();
  const struct {
    const char* name;
    std::size_t bytes;
    Fault fault;
  } cases[] = {
      {"closed in the header", 20, Fault::kClose},
      {"closed in the body", wire_size - 12, Fault::kClose},
      {"closed before the final dot", wire_size - 3, Fault::kClose},
      {"silent in the body", wire_size - 12, Fault::kStall},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pop3Run run({first, Message("<2@x>")});
    run.server.SetRetrFault(1, c.bytes, c.fault);
    run.Configure({"$Pop3TimeOut=1"});
    run.Run();
    run.server.Stop();
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(run.FetchedNames().empty());
    for (const std::string& name : run.SpoolNames())
      EXPECT_EQ(name.find(".tmp"), std::string::npos);
    EXPECT_EQ(run.server.Mailbox().size(), 2u);
    Lines commands = run.server.Commands();
    EXPECT_EQ(Lines(commands.begin(), commands.begin() + 5), kToFirstRetr);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "TOP 2 0"), 0);
    EXPECT_TRUE(LoggedInOrder(run.log, {"? Connection lost", "? Message 1 <1@x>" + Block()}));
  }
}

// A server that trickles a message a byte at a time, each byte inside the
// time-out, is cut off at the exchange's bound: four time-outs, plus a
// second for every KiB received.
TEST(Pop3Faults, TrickledMessageIsCutAtItsBound) {
  Pop3Run run({Message("<1@x>", "Hello", std::string(100, 't') + "\n"), Message("<2@x>")});
  const std::size_t header = FakePop3Server::WireForm(Message("<1@x>")).find("\r\n\r\n");
  run.server.SetRetrFault(1, header + 10, Fault::kTrickle);
  run.Configure({"$Pop3TimeOut=1"});
  run.Run();
  run.server.Stop();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(run.FetchedNames().empty());
  EXPECT_EQ(run.server.Mailbox().size(), 2u);
  EXPECT_EQ(run.server.Commands(), kToFirstRetr);
  EXPECT_TRUE(LoggedInOrder(run.log, {"? Reply not complete within 4 seconds, connection given up",
                                      "? Connection lost", "? Message 1 <1@x>" + Block()}));
}

// Killed in the middle of a copy, the program leaves no M????.MSG file.
TEST(Pop3Faults, KilledDuringTheCopy) {
  Pop3Run run({Message("<1@x>", "Hello", std::string(5000, 'x') + "\n")});
  run.server.SetRetrFault(1, 3000, Fault::kStall);
  run.Configure({"$Pop3TimeOut=60"});
  run.dir.MakeDir("IN");
  run.Run({}, 1500);
  EXPECT_TRUE(run.result.timed_out);
  EXPECT_TRUE(NoHostFile(run));
}

// DELE is only sent once the message is complete under its final name.
TEST(Pop3Faults, DeleteOnlyWhatIsOnDisk) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  std::vector<std::string> seen_at_dele;
  run.server.SetCommandHook([&](const std::string& command) {
    if (command.rfind("DELE ", 0) == 0) {
      std::string name = "M000" + std::to_string(std::stoi(command.substr(5)) - 1) + ".MSG";
      seen_at_dele.push_back(run.dir.Exists("IN/" + name) ? run.Spool(name) : "");
    }
  });
  run.Configure();
  run.Run();
  run.server.Stop();
  EXPECT_EQ(seen_at_dele,
            (Lines{SpoolBytes(Message("<1@x>") + ".\n"), SpoolBytes(Message("<2@x>") + ".\n")}));
}

// No spool file can be created: every message is still read to its end,
// so the dialogue stays in step, and stays on the server.
TEST(Pop3Faults, SpoolFileCannotBeCreated) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.dir.Write("BLOCK", "a file where the directory should be");
  run.Configure({"$Pop3Spool=BLOCK\\SUB"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1",
                                          "TOP 2 0", "RETR 2", "QUIT"}));
  EXPECT_EQ(run.server.Mailbox().size(), 2u);
  EXPECT_TRUE(run.Logged("? Error Spoolfile: BLOCK\\SUB\\M0000.MSG"));
  EXPECT_TRUE(run.Logged("? Message 1 <1@x>" + Block()));
  EXPECT_TRUE(run.Logged("? Message 2 <2@x>" + Block()));
}

// A message as the spool file holds it: every line as it was sent (dot
// stuffing kept), however long, ended by LF alone.
std::string AsStored(std::string_view message) {
  std::string stored;
  for (char byte : FakePop3Server::WireForm(message)) {
    if (byte != '\r') stored += byte;
  }
  return stored;
}

// A header as a stub holds it: each line cut to the channel's 64 KiB.
std::string HeaderAsKept(std::string_view header) {
  constexpr std::size_t kKept = 65536;
  std::string kept;
  while (!header.empty()) {
    const std::size_t end = header.find('\n');
    kept.append(header.substr(0, std::min(end, kKept))).append("\n");
    header.remove_prefix(end + 1);
  }
  return kept;
}

TEST(Pop3Faults, HugeHeadersLongLinesAndNulBytes) {
  using namespace std::string_literals;
  std::string header =
      "From: Anna Berg <anna@example.org>\nX-Long: " + std::string(100000, 'h') + "\n";
  for (int i = 0; i < 1600; ++i)
    header += "X-Line-" + std::to_string(i) + ": " + std::string(1000, 'v') + "\n";
  const std::string message =
      header + "Message-ID: <1@x>\n\n" + std::string(70000, 'b') + "\nnul \0 byte\n.\n"s;
  Pop3Run run({message});
  run.Configure();
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(AsStored(message)));
  EXPECT_TRUE(run.Logged("! Header of Message 1 longer than 1048576 Bytes, rest not kept"));
  EXPECT_TRUE(run.server.Mailbox().empty());

  // Too long for the limit, the stub holds the header up to what is kept.
  Pop3Run limited({message});
  limited.Configure({"$Pop3MaxLen=1000"});
  limited.Run();
  std::string stub = limited.Spool("M0000.MSG");
  EXPECT_LT(stub.size(), 1048576u + 1000u);
  EXPECT_EQ(stub.find('\0'), std::string::npos);
  std::size_t header_start = stub.find("From: ");
  std::size_t header_end = stub.rfind("\n.\nQUIT\n");
  ASSERT_NE(header_end, std::string::npos);
  EXPECT_EQ(HeaderAsKept(header).compare(0, header_end + 1 - header_start, stub, header_start,
                                         header_end + 1 - header_start),
            0);
}

// Without a stated size, or with an absurd one, the size limit never applies.
TEST(Pop3Faults, TopWithoutASize) {
  FakePop3Server::Options no_size;
  no_size.top_states_size = false;
  for (bool negative : {false, true}) {
    SCOPED_TRACE(negative);
    Pop3Run run({Message("<1@x>")}, negative ? FakePop3Server::Options() : no_size);
    if (negative) run.server.SetReply("TOP 1 0", "+OK -5 octets");
    run.Configure({"$Pop3MaxLen=10"});
    run.Run();
    EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(Message("<1@x>") + ".\n"));
    EXPECT_TRUE(run.server.Mailbox().empty());
  }
}

}  // namespace
}  // namespace postil::test
