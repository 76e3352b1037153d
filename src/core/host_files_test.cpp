#include "core/host_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

class HostFilesTest : public ::testing::Test {
 protected:
  HostFilesTest() { std::filesystem::current_path(dir_.path()); }

  test::HostDir dir_;
  test::FixedClock clock_{test::SampleTime()};  // 09:05:07 = 32707 s
  RunState state_{clock_};
};

TEST_F(HostFilesTest, DialerOnlineSince) {
  EXPECT_DOUBLE_EQ(DialerOnlineSince(state_), 32707.0);
  const std::pair<const char*, double> cases[] = {
      {"36000.5", 36000.5},       // a time of day in seconds
      {"  123.25xyz", 123.25},    // only the first 9 bytes count
      {"1234567891234", 123456789},
      {"garbage", 32707.0},       // no number: the current time
      {"", 32707.0},
  };
  for (const auto& [text, expected] : cases) {
    dir_.WriteDialerStamp(text);
    EXPECT_DOUBLE_EQ(DialerOnlineSince(state_), expected) << text;
  }
}

TEST_F(HostFilesTest, DetectHostRelease) {
  EXPECT_EQ(DetectHostRelease(state_), 0);
  dir_.WriteHostExe(false);
  EXPECT_EQ(DetectHostRelease(state_), 0);
  // Found whatever the case of the name (on a file system that tells them
  // apart, the upper-case file goes first).
  std::filesystem::remove(dir_.PathOf("QV.EXE"));
  dir_.Write("qv.exe", "abQV2");
  EXPECT_EQ(DetectHostRelease(state_), 3);
  // The marker must lie within the first 128,000 bytes.
  dir_.Write("qv.exe", std::string(127997, 'x') + "QV2");
  EXPECT_EQ(DetectHostRelease(state_), 127998);
  dir_.Write("qv.exe", std::string(127998, 'x') + "QV2");
  EXPECT_EQ(DetectHostRelease(state_), 0);
  dir_.Write("qv.exe", "qv2");  // case-sensitive
  EXPECT_EQ(DetectHostRelease(state_), 0);
}

}  // namespace
}  // namespace postil
