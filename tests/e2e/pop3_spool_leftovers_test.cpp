// What a run finds in the inbound spool directory besides finished files:
// temporary files of a run killed while writing, and files that another
// process is writing at the same time.
#include <gtest/gtest.h>

#include "e2e/pop3_fixture.h"
#include "platform/files.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

// A killed run's temporary files are removed and their numbers used again;
// the file that a live process (this test) is writing keeps its number.
TEST(Pop3SpoolLeftovers, AbandonedFilesMakeRoomLiveOnesDoNot) {
  const Lines messages = {Message("<1@x>"), Message("<2@x>"), Message("<3@x>")};
  Pop3Run run(messages);
  run.dir.Write("IN/M0000.MSG.tmp", "HELO 127.0.0.1\nRCPT TO:<postmaster@localhost>\nDA");
  run.dir.Write("IN/m0002.msg.TMP", "");
  platform::DurableFile live;
  ASSERT_TRUE(
      live.Create(run.dir.PathOf("IN/M0001.MSG"), run.dir.PathOf("IN/M0001.MSG.tmp"), nullptr));
  run.Configure();
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_TRUE(run.Logged("  Removing stale Spoolfile: IN\\M0000.MSG.tmp"));
  EXPECT_TRUE(run.Logged("  Removing stale Spoolfile: IN\\m0002.msg.TMP"));
  EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                          [](const std::string& line) { return line.find("stale") != line.npos; }),
            2);
  EXPECT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG.tmp", "M0002.MSG", "M0003.MSG"}));
  EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(messages[0] + ".\n"));
  EXPECT_EQ(run.Spool("M0002.MSG"), SpoolBytes(messages[1] + ".\n"));
  EXPECT_EQ(run.Spool("M0003.MSG"), SpoolBytes(messages[2] + ".\n"));
  EXPECT_EQ(run.dir.Read("IN/M0001.MSG.tmp"), "");
}

}  // namespace
}  // namespace postil::test
