#include "core/inbound_spool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

class InboundSpoolTest : public ::testing::Test {
 protected:
  std::optional<SpoolFile> Create() {
    return CreateSpoolFile(state_, spool_, ".MSG", state_.log.For(LogThread::kPop3));
  }

  test::HostDir dir_;
  std::string spool_ = dir_.path() + "\\IN\\";
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
};

TEST_F(InboundSpoolTest, LowestFreeNameCountingFilesBeingWritten) {
  dir_.Write("IN/M0000.MSG", "a");
  dir_.Write("IN/M0002.MSG", "c");
  dir_.Write("IN/m0003.msg", "d");  // names count in any letter case
  std::optional<SpoolFile> first = Create();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Name(), spool_ + "M0001.MSG");
  // While M0001 is being written its name is taken.
  std::optional<SpoolFile> second = Create();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Name(), spool_ + "M0004.MSG");
  EXPECT_FALSE(dir_.Exists("IN/M0001.MSG"));
  ASSERT_TRUE(first->Write("one\n"));
  std::string err;
  ASSERT_TRUE(first->Commit(&err)) << err;
  EXPECT_EQ(dir_.Read("IN/M0001.MSG"), "one\n");
}

// A temporary file left by a killed run is removed and its number used
// again; one that a live writer holds keeps its number taken.
TEST_F(InboundSpoolTest, AbandonedTemporaryFilesAreRemoved) {
  dir_.Write("IN/M0000.MSG.tmp", "half a message");
  dir_.Write("IN/m0002.msg.TMP", "another half");
  platform::DurableFile live;
  ASSERT_TRUE(live.Create(dir_.PathOf("IN/M0001.MSG"), dir_.PathOf("IN/M0001.MSG.tmp"), nullptr));
  std::optional<SpoolFile> first = Create();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Name(), spool_ + "M0000.MSG");
  EXPECT_EQ(dir_.List("IN"), (std::vector<std::string>{"M0000.MSG.tmp", "M0001.MSG.tmp"}));
  EXPECT_EQ(dir_.Read("IN/M0000.MSG.tmp"), "");
  std::optional<SpoolFile> second = Create();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Name(), spool_ + "M0002.MSG");
}

TEST_F(InboundSpoolTest, AFileNotCommittedLeavesNothing) {
  dir_.MakeDir("IN");
  {
    std::optional<SpoolFile> file = Create();
    ASSERT_TRUE(file);
    file->Write("partial");
  }
  EXPECT_TRUE(dir_.List("IN").empty());
}

TEST_F(InboundSpoolTest, TheTemporaryNameEscapesTheHostPattern) {
  EXPECT_EQ(SpoolTempName("IN\\M0001.MSG"), "IN\\M0001.MSG.tmp");
}

TEST_F(InboundSpoolTest, AMissingDirectoryIsASpoolError) { EXPECT_FALSE(Create()); }

// All 10000 names taken: nothing is overwritten.
TEST_F(InboundSpoolTest, AFullDirectoryOverwritesNothing) {
  dir_.MakeDir("IN");
  for (int n = 0; n < kSpoolNameCount; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "IN/M%04d.MSG", n);
    std::FILE* file = std::fopen(dir_.PathOf(name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("kept", file);
    std::fclose(file);
  }
  EXPECT_FALSE(Create());
  EXPECT_EQ(dir_.Read("IN/M9999.MSG"), "kept");
  EXPECT_EQ(dir_.List("IN").size(), 10000u);
}

}  // namespace
}  // namespace postil
