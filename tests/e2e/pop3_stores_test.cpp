// Keeping mail on the server with the Dupebase, and the host's requests in
// REQUEST.ID, over whole runs: the dialogue, the spool files and the two
// files afterwards.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"
#include "pop3/requestbase.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kIdxHeader = "# QUIL/POSTIL Dupebase, do not edit or delete! #\r\n";

std::string Record(std::uint8_t kind, std::uint8_t age, std::string_view id) {
  return FormatRequestRecord({kind, age, "short", std::string(id)});
}

TEST(Pop3Stores, KeptMailIsFetchedOnce) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.dir.Write("POSTIL.IDX", kIdxHeader + "<0@x>\r\n");
  run.Configure({"$Pop3Keep=on"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1",
                                          "TOP 2 0", "RETR 2", "QUIT"}));
  EXPECT_EQ(run.dir.Read("POSTIL.IDX"), kIdxHeader + "<0@x>\r\n<1@x>\r\n<2@x>\r\n");
  EXPECT_EQ(run.FetchedNames(), (Lines{"M0000.MSG", "M0001.MSG"}));

  run.Run();
  EXPECT_EQ(run.server.CommandsByConnection()[1],
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0", "QUIT"}));
  EXPECT_TRUE(run.Logged("  Message 1 (Anna Berg <anna@example.org>) is a dupe, skipped"));
  EXPECT_TRUE(run.Logged("  Message 2 (Anna Berg <anna@example.org>) is a dupe, skipped"));
  EXPECT_EQ(run.FetchedNames().size(), 2u);
  EXPECT_EQ(run.dir.Read("POSTIL.IDX"), kIdxHeader + "<0@x>\r\n<1@x>\r\n<2@x>\r\n");
  EXPECT_EQ(run.server.Mailbox().size(), 2u);
}

// A failed fetch leaves the message for the next run, even with keep on:
// its Message-ID is not remembered as a dupe.
TEST(Pop3Stores, FailedFetchIsNoDupe) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.server.SetReply("RETR 1", "-ERR message locked");
  run.Configure({"$Pop3Keep=on"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_TRUE(
      LoggedInOrder(run.log, {"? RETR 1", "? -ERR message locked", "? Message 1 <1@x>" + Block()}));
  EXPECT_EQ(run.dir.Read("POSTIL.IDX"), kIdxHeader + "<2@x>\r\n");

  run.server.SetReply("RETR 1", "+OK here it is");
  run.Run();
  EXPECT_EQ(run.server.CommandsByConnection()[1],
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "TOP 2 0", "QUIT"}));
  EXPECT_TRUE(run.Logged("  Message 1 <1@x>" + Block()));
  EXPECT_EQ(run.dir.Read("POSTIL.IDX"), kIdxHeader + "<2@x>\r\n<1@x>\r\n");
}

// Fetch (101), fetch and delete (100) and delete (102) requests, served
// even with keep on; the unserved ones age, the oldest is dropped.
TEST(Pop3Stores, RequestsAreServedMarkedAndAged) {
  const std::string fourth = Message("<4@x>");
  Pop3Run run({Message("<1@x>"), Message("<2@x>"), Message("<3@x>"), fourth});
  run.dir.WriteHostExe(true);
  run.dir.Write("REQUEST.ID", Record(101, 0, "<1@x>") + Record(100, 3, "<2@x>") +
                                  Record(102, 0, "<3@x>") + Record(101, 253, "<8@x>") +
                                  Record(100, 254, "<9@x>"));
  run.Configure({"$Pop3Keep=on"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "TOP 2 0", "RETR 2",
                   "DELE 2", "TOP 3 0", "DELE 3", "TOP 4 0", "RETR 4", "QUIT"}));
  EXPECT_EQ(run.server.Mailbox(), (Lines{Message("<1@x>"), fourth}));
  EXPECT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG", "M0002.MSG"}));
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes(Message("<1@x>") + ".\n", "postmaster@localhost", true));
  EXPECT_EQ(run.Spool("M0001.MSG"),
            SpoolBytes(Message("<2@x>") + ".\n", "postmaster@localhost", true));
  EXPECT_EQ(run.Spool("M0002.MSG"), SpoolBytes(fourth + ".\n"));
  EXPECT_TRUE(run.Logged("- Deleting:<3@x>" + Block()));
  EXPECT_EQ(run.dir.Read("REQUEST.ID"), Record(1, 255, "<1@x>") + Record(1, 255, "<2@x>") +
                                            Record(0, 0, "<3@x>") + Record(101, 254, "<8@x>") +
                                            Record(0, 0, "<9@x>"));
}

// The host may have written its files under another letter case: they are
// used, and written back under their own names, with no second file beside.
TEST(Pop3Stores, HostFilesInAnyLetterCase) {
  Pop3Run run({Message("<1@x>"), Message("<2@x>")});
  run.dir.WriteHostExe(true);
  run.dir.Write("postil.idx", kIdxHeader + "<1@x>\r\n");
  run.dir.Write("Request.Id", Record(101, 0, "<2@x>") + Record(101, 5, "<7@x>"));
  run.Configure({"$Pop3Keep=on"});
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0", "RETR 2", "QUIT"}));
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes(Message("<2@x>") + ".\n", "postmaster@localhost", true));
  EXPECT_EQ(run.dir.Read("postil.idx"), kIdxHeader + "<1@x>\r\n<2@x>\r\n");
  EXPECT_EQ(run.dir.Read("Request.Id"), Record(1, 255, "<2@x>") + Record(101, 6, "<7@x>"));
  for (const std::string& name : run.dir.List()) {
    EXPECT_NE(name, "POSTIL.IDX");
    EXPECT_NE(name, "REQUEST.ID");
  }
}

TEST(Pop3Stores, RequestsNeedTheHostRelease) {
  Pop3Run run({Message("<1@x>")});
  const std::string requests = Record(102, 0, "<1@x>") + Record(101, 7, "<2@x>");
  run.dir.Write("REQUEST.ID", requests);
  run.Configure();
  run.Run();
  EXPECT_EQ(run.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "DELE 1", "QUIT"}));
  EXPECT_EQ(run.dir.Read("REQUEST.ID"), requests);
}

// A message without Message-ID is never a dupe or a requested one.
TEST(Pop3Stores, NoMessageIdNoDupeNoRequest) {
  const std::string anonymous = "From: a@x\nSubject: none\n\nbody\n";
  Pop3Run run({anonymous});
  run.dir.WriteHostExe(true);
  run.dir.Write("POSTIL.IDX", kIdxHeader + "\r\n");
  run.dir.Write("REQUEST.ID", Record(102, 0, ""));
  run.Configure({"$Pop3Keep=on"});
  run.Run();
  run.Run();
  EXPECT_EQ(run.server.CommandsByConnection()[1],
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "QUIT"}));
  EXPECT_EQ(run.dir.Read("POSTIL.IDX"), kIdxHeader + "\r\n");
}

}  // namespace
}  // namespace postil::test
