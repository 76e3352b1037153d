#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/host_dir.h"

namespace postil::platform {
namespace {

// PATH holds only a directory with a stand-in player that notes its
// arguments, so the test never makes a sound.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    dir_.Write("bin/aplay", "#!/bin/sh\necho \"$@\" > \"" + dir_.PathOf("played") + "\"\n");
    std::filesystem::permissions(dir_.PathOf("bin/aplay"), std::filesystem::perms::owner_all);
    ::setenv("PATH", dir_.PathOf("bin").c_str(), 1);
  }
  void TearDown() override { ::setenv("PATH", saved_path_.c_str(), 1); }

  bool Played(int time_limit_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_limit_ms);
    // Complete once the player's one line is there.
    while (!dir_.Exists("played") || !dir_.Read("played").ends_with("\n")) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  test::HostDir dir_;
  std::string saved_path_;
};

TEST_F(SoundTest, PlayerIsStartedOnTheFile) {
  dir_.Write("PLONK.WAV", "RIFF");
  PlaySoundFile(dir_.PathOf("plonk.wav"));  // found without regard to case
  ASSERT_TRUE(Played(5000));
  EXPECT_EQ(dir_.Read("played"), "-q " + dir_.PathOf("PLONK.WAV") + "\n");
}

TEST_F(SoundTest, NothingIsStartedForAMissingFile) {
  PlaySoundFile(dir_.PathOf("PLONK.WAV"));
  EXPECT_FALSE(Played(300));
}

}  // namespace
}  // namespace postil::platform
