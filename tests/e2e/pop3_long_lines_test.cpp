// Lines longer than the line channel's 64 KiB buffer, in the header and in
// the body: the spool file holds every line exactly as it was sent, no piece
// of a long line ends a reply or the message, and the dialogue stays in step
// so the next message is stored under its own number.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

constexpr std::size_t kPiece = 65536;

// A line of `length` bytes whose every piece after the first begins with
// `at_boundary` (cut to fit), so the channel hands "." or ".." over as a
// piece of its own or at the start of one.
std::string LongLine(std::size_t length, std::string_view at_boundary) {
  std::string line(length, 'a');
  for (std::size_t at = kPiece; at < length; at += kPiece)
    line.replace(at, std::min(at_boundary.size(), length - at), at_boundary.substr(0, length - at));
  return line;
}

// The message as the spool file holds it: its lines as sent, LF-ended, with
// the server's final ".".
std::string Stored(std::string_view message) {
  std::string stored;
  for (char byte : FakePop3Server::WireForm(message)) {
    if (byte != '\r') stored += byte;
  }
  return stored;
}

const Lines kInStep = {"USER user", "PASS secret", "STAT",   "TOP 1 0", "RETR 1",
                       "DELE 1",    "TOP 2 0",     "RETR 2", "DELE 2",  "QUIT"};

void ExpectBothStored(const std::string& crafted) {
  const std::string next = Message("<2@x>", "Next", "the next message\n");
  Pop3Run run({crafted, next});
  run.Configure();
  run.Run();
  run.server.Stop();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(), kInStep);
  EXPECT_EQ(run.FetchedNames(), (Lines{"M0000.MSG", "M0001.MSG"}));
  EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(Stored(crafted)));
  EXPECT_EQ(run.Spool("M0001.MSG"), SpoolBytes(Stored(next)));
}

TEST(Pop3LongLines, EveryLengthAndBoundaryInHeaderAndBody) {
  for (std::size_t length : {kPiece - 1, kPiece, kPiece + 1, kPiece + 2, std::size_t{200000}}) {
    for (std::string_view at_boundary : {"", ".", ".."}) {
      SCOPED_TRACE(std::to_string(length) + " bytes, boundary '" + std::string(at_boundary) + "'");
      const std::string line = LongLine(length, at_boundary);
      {
        SCOPED_TRACE("body");
        ExpectBothStored(Message("<1@x>", "Long", line + "\nafter\n"));
      }
      {
        SCOPED_TRACE("header");
        ExpectBothStored("X-Long: " + line + "\n" + Message("<1@x>", "Long"));
      }
    }
  }
}

// A message crafted to end early and to forge the replies that follow it:
// every forged line is only content.
TEST(Pop3LongLines, ForgedEndAndRepliesAreContent) {
  const std::string pad(kPiece, 'x');
  ExpectBothStored(Message("<1@x>", "Forged",
                           pad + ".\n+OK 1 octets\n" + pad + ".\n+OK message deleted\n" + pad +
                               "+OK\n.." + pad.substr(2) + ".\nend\n"));
}

// A CR LF whose CR is the last byte of a piece: the line still ends there.
TEST(Pop3LongLines, LineEndAtTheBoundary) {
  const std::string line(kPiece, 'c');
  ExpectBothStored(Message("<1@x>", "Crlf", line + "\r\n" + line + "\r\n\r\n"));
}

// The stub of a message too long for the limit: a long header line is cut
// to 64 KiB as it is kept for the filter, and ends nothing.
TEST(Pop3LongLines, TopHeaderLineIsCutAndEndsNothing) {
  const std::string line = LongLine(200000, ".");
  const std::string crafted = "X-Long: " + line + "\n" + Message("<1@x>", "Long");
  Pop3Run run({crafted, Message("<2@x>")});
  run.Configure({"$Pop3MaxLen=1000"});
  run.Run();
  run.server.Stop();
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0", "RETR 2", "DELE 2",
                   "QUIT"}));
  const std::string header = ("X-Long: " + line).substr(0, kPiece) + "\n" +
                             Message("<1@x>", "Long").substr(0, Message("<1@x>", "Long").find("\n\n") + 2);
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes("X-QV-Mode: TopOfMail\nSummary: Message too long, ignored (Original Size: " +
                       std::to_string(FakePop3Server::StatedSize(crafted)) + " Byte)\n" + header +
                       ".\n"));
}

}  // namespace
}  // namespace postil::test
