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

// A session reads the directory once and keeps the numbers it took; names
// taken since by the other worker (a finished file, or one still being
// written) are found taken when tried, never overwritten, and the lowest
// free number is still what each file gets.
TEST_F(InboundSpoolTest, SessionTakesTheLowestFreeNameAroundTheOtherWorker) {
  dir_.Write("IN/M0000.MSG", "a");
  dir_.Write("IN/M0002.MSG", "c");
  dir_.Write("IN/m0004.msg", "e");
  SpoolSession session(state_, spool_, ".MSG", platform::SystemDiskSync(),
                       state_.log.For(LogThread::kPop3));
  auto publish = [&](const std::string& text) {
    std::optional<SpoolFile> file = session.Create();
    EXPECT_TRUE(file);
    if (!file) return std::string();
    std::string name = file->Name();
    EXPECT_TRUE(file->Write(text));
    EXPECT_TRUE(session.Hold(std::move(*file)));
    return name;
  };
  EXPECT_EQ(publish("first\n"), spool_ + "M0001.MSG");
  // The other worker: a bounce finished under M0003, one being written
  // under M0005, both after the session read the directory.
  std::optional<SpoolFile> bounce = Create();
  ASSERT_TRUE(bounce);
  ASSERT_EQ(bounce->Name(), spool_ + "M0003.MSG");
  ASSERT_TRUE(bounce->Write("bounce\n"));
  std::string err;
  ASSERT_TRUE(bounce->Commit(&err)) << err;
  platform::DurableFile live;
  ASSERT_TRUE(live.Create(dir_.PathOf("IN/M0005.MSG"), dir_.PathOf("IN/M0005.MSG.tmp"), nullptr));
  EXPECT_EQ(publish("second\n"), spool_ + "M0006.MSG");
  EXPECT_EQ(publish("third\n"), spool_ + "M0007.MSG");
  EXPECT_TRUE(session.Commit());
  EXPECT_EQ(dir_.Read("IN/M0001.MSG"), "first\n");
  EXPECT_EQ(dir_.Read("IN/M0003.MSG"), "bounce\n");
  EXPECT_EQ(dir_.Read("IN/M0006.MSG"), "second\n");
  EXPECT_EQ(dir_.Read("IN/M0007.MSG"), "third\n");
  EXPECT_EQ(dir_.List("IN"),
            (std::vector<std::string>{"M0000.MSG", "M0001.MSG", "M0002.MSG", "M0003.MSG",
                                      "M0005.MSG.tmp", "M0006.MSG", "M0007.MSG", "m0004.msg"}));
}

// A session's files keep their temporary names until its commit, which
// syncs their data, names them all and syncs the names. When a sync fails,
// no file keeps its name, unless it cannot be removed again.
class ScriptedSync : public platform::DiskSync {
 public:
  ScriptedSync(int failing_call, bool removes) : failing_call_(failing_call), removes_(removes) {}
  bool SyncFileSystem(const platform::FileHandle&) override { return ++calls != failing_call_; }
  bool RemoveNamed(const std::string& native_path) override {
    return removes_ && platform::DiskSync::RemoveNamed(native_path);
  }
  int calls = 0;

 private:
  int failing_call_;  // 0: none fails
  bool removes_;
};

TEST_F(InboundSpoolTest, SessionFilesAreNamedOnlyByTheirCommit) {
  using Names = std::vector<std::string>;
  const Names named = {"M0000.MSG", "M0001.MSG"};
  const struct Case {
    const char* name;
    int failing_call;
    bool removes;
    bool committed;
    int calls;
    Names left;
  } cases[] = {
      {"both syncs succeed", 0, true, true, 2, named},
      {"the data's sync fails", 1, true, false, 1, {}},
      {"the data's sync fails, nothing can be removed", 1, false, false, 1, {}},
      {"the names' sync fails", 2, true, false, 2, {}},
      {"the names' sync fails, nothing can be removed", 2, false, false, 2, named},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::HostDir dir;
    dir.MakeDir("IN");
    ScriptedSync disk(c.failing_call, c.removes);
    SpoolSession session(state_, dir.path() + "\\IN\\", ".MSG", disk,
                         state_.log.For(LogThread::kPop3));
    for (int i = 0; i < 2; ++i) {
      std::optional<SpoolFile> file = session.Create();
      ASSERT_TRUE(file);
      ASSERT_TRUE(file->Write("text\n"));
      ASSERT_TRUE(session.Hold(std::move(*file)));
    }
    EXPECT_EQ(dir.List("IN"), (Names{"M0000.MSG.tmp", "M0001.MSG.tmp"}));
    EXPECT_EQ(session.Commit(), c.committed);
    EXPECT_EQ(disk.calls, c.calls);
    EXPECT_EQ(dir.List("IN"), c.left);
    EXPECT_EQ(session.Held(), 0u);
  }
}

// A session that ends without its commit leaves nothing, and what it held
// never counts as a file of the spool.
TEST_F(InboundSpoolTest, ASessionDiscardedLeavesNothing) {
  dir_.MakeDir("IN");
  {
    SpoolSession session(state_, spool_, ".MSG", platform::SystemDiskSync(),
                         state_.log.For(LogThread::kPop3));
    std::optional<SpoolFile> file = session.Create();
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write("text\n"));
    ASSERT_TRUE(session.Hold(std::move(*file)));
    session.Discard();
    EXPECT_TRUE(dir_.List("IN").empty());
    file = session.Create();
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write("text\n"));
    ASSERT_TRUE(session.Hold(std::move(*file)));
  }
  EXPECT_TRUE(dir_.List("IN").empty());
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
