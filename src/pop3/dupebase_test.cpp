#include "pop3/dupebase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

const std::string kHeader = "# QUIL/POSTIL Dupebase, do not edit or delete! #\r\n";

class DupebaseTest : public ::testing::Test {
 protected:
  DupebaseTest() : old_dir_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~DupebaseTest() override { std::filesystem::current_path(old_dir_); }

  test::HostDir dir_;
  std::filesystem::path old_dir_;
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
};

TEST(DupebaseFileTest, DataIsEverythingAfterTheHeaderUpToTheTail) {
  EXPECT_EQ(kHeader.size(), kDupebaseHeaderBytes);
  EXPECT_EQ(DupeDataFromFile(kHeader), "");
  EXPECT_EQ(DupeDataFromFile("short"), "");
  EXPECT_EQ(DupeDataFromFile(kHeader + "<1@x>\r\n"), "<1@x>\r\n");
  // A damaged header is skipped by its length all the same.
  EXPECT_EQ(DupeDataFromFile(std::string(50, 'x') + "<2@x>\r\n"), "<2@x>\r\n");
}

TEST(DupebaseFileTest, SavedDataIsItsLast64000Bytes) {
  std::string data = "<old-entry@x>\r\n" + std::string(63993, 'a') + "\r\n";
  ASSERT_EQ(data.size(), 64010u);
  std::string bytes = DupebaseFileBytes(data);
  EXPECT_EQ(bytes, kHeader + data.substr(10));
  EXPECT_EQ(bytes.substr(50, 3), "@x>");  // the first saved line is a fragment
  EXPECT_EQ(DupebaseFileBytes(""), kHeader);
}

TEST(DupebaseFileTest, SubstringSearchAndForgetting) {
  Dupebase dupebase;
  dupebase.RememberMessageId("<12345@host>");
  std::size_t mark = dupebase.Mark();
  dupebase.RememberMessageId("<new@host>");
  dupebase.RememberMessageId("<second@host>");
  EXPECT_TRUE(dupebase.IsKnownMessageId("2345@host"));  // inside a longer one
  EXPECT_FALSE(dupebase.IsKnownMessageId("<12345@HOST>"));
  dupebase.ForgetSince(mark);
  EXPECT_EQ(dupebase.DupeData(), "<12345@host>\r\n");
  EXPECT_FALSE(dupebase.IsKnownMessageId("<new@host>"));
}

TEST_F(DupebaseTest, SaveAndLoadAcrossRuns) {
  Dupebase first;
  first.LoadDupebase(state_);  // no file yet
  EXPECT_EQ(first.DupeData(), "");
  first.RememberMessageId("<1@x>");
  first.SaveDupebase(state_);
  EXPECT_EQ(dir_.Read("POSTIL.IDX"), kHeader + "<1@x>\r\n");
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"POSTIL.IDX"});  // no temporary file left

  Dupebase second;
  second.LoadDupebase(state_);
  EXPECT_TRUE(second.IsKnownMessageId("<1@x>"));
}

TEST_F(DupebaseTest, AHugeDamagedFileLoadsItsTail) {
  std::string tail(kDupebaseTailBytes, 't');
  dir_.Write("POSTIL.IDX", kHeader + std::string(300000, 'x') + tail);
  Dupebase dupebase;
  dupebase.LoadDupebase(state_);
  EXPECT_EQ(dupebase.DupeData(), tail);
}

TEST_F(DupebaseTest, AStaleTemporaryFileDoesNotBlockTheSave) {
  dir_.Write("POSTIL.IDX.tmp", "left by a crash");
  Dupebase dupebase;
  dupebase.RememberMessageId("<1@x>");
  dupebase.SaveDupebase(state_);
  EXPECT_EQ(dir_.Read("POSTIL.IDX"), kHeader + "<1@x>\r\n");
  EXPECT_FALSE(dir_.Exists("POSTIL.IDX.tmp"));
}

}  // namespace
}  // namespace postil
