#include "app/configuration_load.h"

#include <gtest/gtest.h>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

class ConfigLoaderTest : public ::testing::Test {
 protected:
  Config Load(const std::string& name, const std::string& text) {
    dir_.Write(name, text);
    Config config;
    LoadConfiguration(state_, dir_.PathOf(name), &config, &rules_);
    return config;
  }

  test::HostDir dir_;
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
  RuleTable rules_;
};

TEST_F(ConfigLoaderTest, ModuleStyleDefaults) {
  Config config = Load("POSTIL.CFG", "$Pop3Server=pop.example\r\n");
  EXPECT_FALSE(config.HostBoxMode);
  EXPECT_EQ(config.Pop3Server, "pop.example");
  EXPECT_EQ(config.Pop3Port, "110");
  EXPECT_EQ(config.Pop3Spool, "SPOOL");
  EXPECT_EQ(config.Pop3TimeOut, "15");
  EXPECT_EQ(config.Pop3Envelope, kDefaultPop3Envelope);
  EXPECT_EQ(config.Pop3UseEnvelope, "disabled");
  EXPECT_EQ(config.Pop3MaxLen, "5000000");
  EXPECT_EQ(config.Pop3ReportInfo, "/\xAFQUIL");
  EXPECT_EQ(config.SmtpPort, "25");
  EXPECT_EQ(config.SmtpBurst, "enabled");
  EXPECT_FALSE(config.SmtpAfterPop);
  EXPECT_EQ(config.SmtpAfterPopTimeOut, 10);
  EXPECT_EQ(config.SmtpAfterPopDelay, 1);
  EXPECT_EQ(config.HostRelease, 0);
  EXPECT_EQ(config.ProductTag, "QUIL");
  EXPECT_FALSE(config.FilterActive);
}

TEST_F(ConfigLoaderTest, KeyStyleFollowsTheFileName) {
  const std::string text =
      "$SmtpServer=dollar\r\nSmtpServer=bare\r\nSmtpUser=anna\r\nSmtpPass=pw\r\n"
      "$SmtpUser=dollaruser\r\n";
  Config box = Load("QV.BFG", text);
  EXPECT_TRUE(box.HostBoxMode);
  EXPECT_EQ(box.SmtpServer, "bare");
  EXPECT_EQ(box.SmtpUser, "anna");
  EXPECT_EQ(box.SmtpPass, "pw");
  Config own = Load("QV.CFG", text);
  EXPECT_FALSE(own.HostBoxMode);
  EXPECT_EQ(own.SmtpServer, "dollar");
  EXPECT_EQ(own.SmtpUser, "");  // read only in box-file style
  EXPECT_EQ(own.SmtpPass, "");
}

TEST_F(ConfigLoaderTest, ADotInADirectoryHidesTheBoxExtension) {
  dir_.Write("sub.dir/QV.BFG", "SmtpServer=bare\r\n");
  Config config;
  LoadConfiguration(state_, dir_.PathOf("sub.dir/QV.BFG"), &config, &rules_);
  // The name is split at its first "."; only a second part of "BFG" counts.
  EXPECT_FALSE(config.HostBoxMode);
  EXPECT_EQ(config.SmtpServer, "");
}

TEST_F(ConfigLoaderTest, OnlyTheFirst8012BytesAreRead) {
  std::string filler = "' " + std::string(7990, 'x') + "\r\n";  // 7994 bytes
  Config config = Load("POSTIL.CFG", filler + "$Pop3User=abcdefghij\r\n$Pop3Pass=late\r\n");
  // 18 bytes of the user line are inside the limit: "$Pop3User=" and 8 letters.
  EXPECT_EQ(config.Pop3User, "abcdefgh");
  EXPECT_EQ(config.Pop3Pass, "");
}

TEST_F(ConfigLoaderTest, AByteOrderMarkDoesNotHideTheFirstKey) {
  Config own = Load("POSTIL.CFG", "\xEF\xBB\xBF$Pop3Server=pop.example\r\n");
  EXPECT_EQ(own.Pop3Server, "pop.example");
  Config box = Load("QV.BFG", "\xEF\xBB\xBFSmtpServer=smtp.example\r\n");
  EXPECT_EQ(box.SmtpServer, "smtp.example");
}

TEST_F(ConfigLoaderTest, SmtpAfterPopNumbers) {
  Config config = Load("POSTIL.CFG",
                       "$SmtpAfterPop=ON\r\n$SmtpAfterPopTimeOut=12\r\n$SmtpAfterPopDelay=x\r\n");
  EXPECT_TRUE(config.SmtpAfterPop);
  EXPECT_EQ(config.SmtpAfterPopTimeOut, 12);
  EXPECT_EQ(config.SmtpAfterPopDelay, 0);
}

TEST_F(ConfigLoaderTest, LoadingClearsFieldsAndFlags) {
  state_.Pop3InfoField.Set("old");
  state_.Pop3ErrorFlag = true;
  state_.SmtpErrorFlag = true;
  Load("POSTIL.CFG", "");
  EXPECT_EQ(state_.Pop3InfoField.Get(), std::string(53, ' '));
  EXPECT_FALSE(state_.Pop3ErrorFlag);
  EXPECT_FALSE(state_.SmtpErrorFlag);
}

TEST_F(ConfigLoaderTest, MissingFileLoadsNothing) {
  Config config;
  LoadConfiguration(state_, dir_.PathOf("NONE.CFG"), &config, &rules_);
  EXPECT_EQ(config.Pop3Port, "");  // no defaults either
  EXPECT_EQ(config.ProductTag, "");
}

TEST_F(ConfigLoaderTest, BinaryAndOddlySpacedFilesDoNotBreakTheLoader) {
  std::string binary;
  for (int i = 0; i < 9000; ++i) binary += static_cast<char>(i * 37 % 256);
  Config config = Load("POSTIL.CFG", binary);
  EXPECT_EQ(config.Pop3Port, "110");
  config = Load("POSTIL.CFG", "\n\n   \r\r\r$Pop3Port   =  1\r\n$Pop3Port =  2  \r\n");
  EXPECT_EQ(config.Pop3Port, "2");
}

}  // namespace
}  // namespace postil
