#include "console/screen_colours.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/run_state.h"
#include "platform/files.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

TEST(ScreenColours, ColourText) {
  struct Case {
    const char* text;
    ScreenColours expected;
  };
  const Case cases[] = {
      {"$70 $7F $7E", {0x70, 0x7F, 0x7E}},
      {"$1F $1E $1A", {0x1F, 0x1E, 0x1A}},
      {"$1f  $1e $1a", {0x1F, 0x1E, 0x1A}},
      {"31 30 26", {31, 30, 26}},
      {"$1F", {0x1F, 0x7F, 0x7E}},
      {"$1F ?? $1A", {0x1F, 0x7F, 0x1A}},
      {"", {0x70, 0x7F, 0x7E}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseColourText(c.text), c.expected);
  }
}

TEST(ScreenColours, MailerLine) {
  EXPECT_EQ(MailerColourText("MAILER=$1F $1E $1A"), "$1F $1E $1A");
  EXPECT_EQ(MailerColourText("mailer $1F $1E $1A and more"), "$1F $1E $1A");
  EXPECT_EQ(MailerColourText("MAILER"), "");
  EXPECT_EQ(MailerColourText("EDITOR=$1F $1E $1A"), std::nullopt);
  EXPECT_EQ(MailerColourText(" MAILER=$1F $1E $1A"), std::nullopt);
}

class ColourFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir_.path());
    dir_.EnableDebug();
    platform::SetEnvironment("QV", dir_.PathOf("qv"));
    state_.log.SetupLog(std::nullopt);
  }
  void TearDown() override { platform::SetEnvironment("QV", std::nullopt); }
  std::string Log() {
    state_.log.CloseLogs();
    return dir_.Read("QUIL.LOG");
  }

  test::HostDir dir_;
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
};

TEST_F(ColourFileTest, LastMailerLineOfTheFileWins) {
  dir_.Write("qv/QUORVX.COL",
             "EDITOR=$11 $12 $13\r\nMAILER=$21 $22 $23\r\nmailer=$1F $1E $1A\r\nVIEWER=$31\r\n");
  EXPECT_EQ(LoadScreenColours(state_), (ScreenColours{0x1F, 0x1E, 0x1A}));
  EXPECT_NE(Log().find("POSTIL #0: Using Quorvex Mailer Colors \r\n"), std::string::npos);
}

TEST_F(ColourFileTest, FileNameIsFoundWithoutRegardToCase) {
  dir_.Write("qv/quorvx.col", "MAILER=$1F $1E $1A");  // no line end at the end either
  EXPECT_EQ(LoadScreenColours(state_), (ScreenColours{0x1F, 0x1E, 0x1A}));
}

TEST_F(ColourFileTest, MissingFileKeepsTheDefaultsSilently) {
  EXPECT_EQ(LoadScreenColours(state_), ScreenColours{});
  EXPECT_EQ(Log().find("Colors"), std::string::npos);
}

}  // namespace
}  // namespace postil
