// Faults during retrieval and hostile server data: nothing partial ever
// reaches the host, nothing is deleted before it is on disk, the dialogue
// never runs out of step.
#include <gtest/gtest.h>

#include <map>

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

// What a copy that never completed leaves of a mailbox of two: the error
// bit, no spool file (nor a temporary one), both messages on the server.
void ExpectNothingTaken(const Pop3Run& run) {
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(run.FetchedNames().empty());
  for (const std::string& name : run.SpoolNames()) EXPECT_EQ(name.find(".tmp"), std::string::npos);
  EXPECT_EQ(run.server.Mailbox().size(), 2u);
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
    ExpectNothingTaken(run);
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

// The session's files are importable only together with its deletions:
// at DELE a message's file is still under its temporary name, and by QUIT
// every file is complete under its final name.
TEST(Pop3Faults, FilesAreNamedRightBeforeQuit) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  std::vector<Lines> seen;
  run.server.SetCommandHook([&](const std::string& command) {
    if (command.starts_with("DELE ") || command == "QUIT") seen.push_back(run.SpoolNames());
  });
  run.Configure();
  run.Run();
  run.server.Stop();
  EXPECT_EQ(seen, (std::vector<Lines>{{"M0000.MSG.tmp"},
                                      {"M0000.MSG.tmp", "M0001.MSG.tmp"},
                                      {"M0000.MSG", "M0001.MSG"}}));
  EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(Message("<1@x>") + ".\n"));
  EXPECT_EQ(run.Spool("M0001.MSG"), SpoolBytes(Message("<2@x>") + ".\n"));
}

// A session that loses its connection after some messages names none of
// its files: without QUIT the server keeps every message, and the next run
// fetches each once.
TEST(Pop3Faults, ASessionWithoutQuitLeavesNoImportableFile) {
  const std::string third = Message("<3@x>", "Hello", "line one\nline two\n");
  Pop3Run run({Message("<1@x>"), Message("<2@x>"), third});
  run.server.SetRetrFault(3, FakePop3Server::WireForm(third).size() - 12, Fault::kClose);
  run.Configure({"$Pop3TimeOut=1"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(run.FetchedNames().empty());
  EXPECT_EQ(run.server.Mailbox().size(), 3u);
  EXPECT_FALSE(Contains(run.server.Commands(), "QUIT"));
  run.server.SetRetrFault(3, std::string::npos, Fault::kClose);  // whole this time
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  Lines fetched;
  for (const std::string& name : run.FetchedNames()) fetched.push_back(run.Spool(name));
  EXPECT_EQ(fetched, (Lines{SpoolBytes(Message("<1@x>") + ".\n"),
                            SpoolBytes(Message("<2@x>") + ".\n"), SpoolBytes(third + ".\n")}));
  EXPECT_TRUE(run.server.Mailbox().empty());
}

// No spool file can be created: the message is still read to its end, so
// the dialogue stays in step, and the account ends there, with QUIT and
// nothing deleted.
TEST(Pop3Faults, SpoolFileCannotBeCreated) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.dir.Write("BLOCK", "a file where the directory should be");
  run.Configure({"$Pop3Spool=BLOCK\\SUB"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "QUIT"}));
  EXPECT_EQ(run.server.Mailbox().size(), 2u);
  EXPECT_TRUE(
      LoggedInOrder(run.log, {"? Error Spoolfile: BLOCK\\SUB\\M0000.MSG",
                              "? Message 1 <1@x>" + Block(), "= POP3 to 127.0.0.1 disconnected"}));
  EXPECT_FALSE(run.Logged("? Message 2 <2@x>" + Block()));
}

// With every spool name taken, the first message finds no name and the
// account ends: nothing more is fetched, nothing is overwritten.
TEST(Pop3Faults, NoSpoolNameFreeEndsTheAccount) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>"), Message("<3@x>")});
  run.dir.MakeDir("IN");
  for (int n = 0; n < 10000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "M%04d.MSG", n);
    std::FILE* file = std::fopen(run.dir.PathOf(std::string("IN/") + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  run.Configure();
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "QUIT"}));
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "? Error Spoolfile: IN\\M9999.MSG"), 1);
  EXPECT_EQ(run.server.Mailbox().size(), 3u);
  EXPECT_EQ(run.SpoolNames().size(), 10000u);
}

// A message that never ends, fast or slow, is cut once it runs far past the
// size its server stated, or past Pop3MaxLen: no file is left, the message
// stays on the server, and the connection, out of step, is given up.
TEST(Pop3Faults, AMessageThatNeverEndsIsCut) {
  const std::string first = Message("<1@x>");
  const std::string stated = std::to_string(FakePop3Server::StatedSize(first));
  const struct {
    const char* name;
    Fault fault;
    const char* max_len;
    std::string cut;
  } cases[] = {
      {"fast, past its stated size", Fault::kEndless, "0",
       "? Message 1 longer than stated (" + stated + " Bytes), not fetched"},
      {"fast, past Pop3MaxLen", Fault::kEndless, "5000",
       "? Message 1 longer than 5000 Bytes (Pop3MaxLen), not fetched"},
      {"slow, past Pop3MaxLen", Fault::kEndlessSlow, "3000",
       "? Message 1 longer than 3000 Bytes (Pop3MaxLen), not fetched"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pop3Run run({first, Message("<2@x>")});
    run.server.SetRetrFault(1, FakePop3Server::WireForm(first).size() - 3, c.fault);
    run.Configure({"$Pop3TimeOut=2", std::string("$Pop3MaxLen=") + c.max_len});
    const auto started = std::chrono::steady_clock::now();
    run.Run({}, 20000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    run.server.Stop();
    ExpectNothingTaken(run);
    EXPECT_EQ(run.server.Commands(), kToFirstRetr);
    EXPECT_TRUE(LoggedInOrder(run.log, {c.cut, "? Message 1 <1@x>" + Block()}));
  }
}

// STAT figures too large to be true are a STAT failure, not an empty
// mailbox: the error bit is set and nothing is asked (a count past 32 bits
// is a case of the session's failure paths).
TEST(Pop3Faults, StatFiguresThatDoNotFit) {
  for (const char* reply : {"+OK 2147483648 100", "+OK 3 99999999999999999999"}) {
    SCOPED_TRACE(reply);
    Pop3Run run({Message("<1@x>")});
    run.server.SetReply("STAT", reply);
    run.Configure();
    run.Run();
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_EQ(run.server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "QUIT"}));
    EXPECT_TRUE(run.Logged(std::string("? ") + reply));
  }
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

// A greeting without its line end is taken as the line once the time-out
// has passed, and that line is over: the "+OK" to USER that follows is a
// reply of its own, and the session logs in and fetches.
TEST(Pop3Faults, GreetingWithoutLineEndIsTakenAtTheTimeOut) {
  const std::string message = Message("<1@x>");
  const std::string wire = FakePop3Server::WireForm(message);
  const std::string size = std::to_string(FakePop3Server::StatedSize(message));
  const std::map<std::string, std::string> replies = {
      {"USER user", "+OK\r\n"},
      {"PASS secret", "+OK\r\n"},
      {"STAT", "+OK 1 " + size + "\r\n"},
      {"TOP 1 0",
       "+OK " + size + " octets\r\n" + wire.substr(0, wire.find("\r\n\r\n") + 4) + ".\r\n"},
      {"RETR 1", "+OK " + size + " octets\r\n" + wire},
      {"DELE 1", "+OK\r\n"},
      {"QUIT", "+OK\r\n"},
  };
  FakeServer server([&replies](FakeConnection& connection) {
    connection.SendRaw("+OK ready");
    std::string command;
    while (connection.ReadLine(&command) == FakeConnection::ReadResult::kLine) {
      const auto reply = replies.find(command);
      connection.SendRaw(reply != replies.end() ? reply->second : "-ERR unknown\r\n");
      if (command == "QUIT") break;
    }
  });
  HostDir dir;
  dir.Write("POSTIL.CFG", "$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(server.port()) +
                              "\r\n$Pop3User=user\r\n$Pop3Pass=secret\r\n$Pop3Spool=IN\r\n"
                              "$Pop3TimeOut=1\r\n$SmtpServer=disabled\r\n");
  const RunResult result = RunPostilIn(dir, {"POSTIL.CFG"}, {}, 20000);
  server.Stop();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  ASSERT_EQ(server.Records().size(), 1u);
  EXPECT_EQ(server.Records()[0].bytes,
            "USER user\r\nPASS secret\r\nSTAT\r\nTOP 1 0\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n");
  EXPECT_EQ(dir.List("IN"), std::vector<std::string>{"M0000.MSG"});
  EXPECT_EQ(MaskReceivedTime(dir.Read("IN/M0000.MSG")), SpoolBytes(message + ".\n"));
}

}  // namespace
}  // namespace postil::test
