#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/host_dir.h"

namespace postil::platform {
namespace {

TEST(Files, HostPathsFindFilesWithoutRegardToCase) {
  test::HostDir dir;
  dir.Write("Spool/In/M0001.msg", "x");
  const std::string base = dir.path();
  EXPECT_EQ(NativePath(base + "\\SPOOL\\in\\m0001.MSG"), base + "/Spool/In/M0001.msg");
  EXPECT_TRUE(FileExists(base + "/spool/IN/M0001.MSG"));
  EXPECT_TRUE(DirectoryExists(base + "\\SPOOL\\IN\\"));
  EXPECT_FALSE(FileExists(base + "/spool"));
  // Missing components are kept as given, so new files get the caller's name.
  EXPECT_EQ(NativePath(base + "/SPOOL/New/File.TXT"), base + "/Spool/New/File.TXT");
}

TEST(Files, ExactSpellingWinsOverACaseMatch) {
  test::HostDir dir;
  dir.Write("a/x", "lower");
  dir.Write("A/x", "upper");
  EXPECT_EQ(NativePath(dir.path() + "/A/x"), dir.path() + "/A/x");
  EXPECT_EQ(NativePath(dir.path() + "/a/x"), dir.path() + "/a/x");
}

TEST(Files, DrivePrefixMapsToTheDriveVariableOrTheRoot) {
  test::HostDir dir;
  dir.Write("QV/LOG/QUIL.LOG", "");
  ::setenv("POSTIL_DRIVE_C", dir.path().c_str(), 1);
  EXPECT_EQ(NativePath("C:\\qv\\log\\quil.log"), dir.path() + "/QV/LOG/QUIL.LOG");
  EXPECT_EQ(NativePath("c:qv"), dir.path() + "/QV");
  ::unsetenv("POSTIL_DRIVE_C");
  EXPECT_EQ(NativePath("C:\\tmp"), "/tmp");
}

TEST(Files, FindFilesMatchesPatternsWithoutRegardToCase) {
  test::HostDir dir;
  for (const char* name : {"M0001.OUT", "m0002.out", "M01.OUT", "MA0001.OUT", "X.EML", "y.eml",
                           "M0003.OUTX"})
    dir.Write(std::string("spool/") + name, "");
  dir.MakeDir("spool/M0009.OUT");  // a directory never counts as a spool file
  auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(sorted(FindFiles(dir.PathOf("spool"), "M????.OUT")),
            (std::vector<std::string>{"M0001.OUT", "m0002.out"}));
  EXPECT_EQ(sorted(FindFiles(dir.PathOf("spool") + "\\", "*.EML")),
            (std::vector<std::string>{"X.EML", "y.eml"}));
  EXPECT_TRUE(FindFiles(dir.PathOf("missing"), "*").empty());
}

TEST(Files, DurableFileAppearsOnlyWhenCommitted) {
  test::HostDir dir;
  {
    DurableFile file;
    ASSERT_TRUE(file.Create(dir.PathOf("M0000.MSG"), dir.PathOf("M0000.MSG.part"), nullptr));
    EXPECT_TRUE(file.Write("partial"));
    EXPECT_TRUE(dir.Exists("M0000.MSG.part"));
    EXPECT_FALSE(dir.Exists("M0000.MSG"));
  }  // dropped without Commit: nothing is left
  EXPECT_EQ(dir.List(), std::vector<std::string>{});

  DurableFile file;
  ASSERT_TRUE(file.Create(dir.PathOf("M0000.MSG"), dir.PathOf("M0000.MSG.part"), nullptr));
  std::string big(200000, 'z');
  EXPECT_TRUE(file.Write("head\n"));
  EXPECT_TRUE(file.Write(big));
  std::string err;
  ASSERT_TRUE(file.Commit(&err)) << err;
  EXPECT_EQ(dir.List(), std::vector<std::string>{"M0000.MSG"});
  EXPECT_EQ(dir.Read("M0000.MSG"), "head\n" + big);

  DurableFile again;
  ASSERT_TRUE(again.Create(dir.PathOf("M0001.MSG"), dir.PathOf("M0001.MSG.part"), nullptr));
  EXPECT_FALSE(DurableFile().Create(dir.PathOf("M0001.MSG"), dir.PathOf("M0001.MSG.part"), nullptr))
      << "a temporary name in use is never taken twice";
}

TEST(Files, ReadFilePrefixAndInputFile) {
  test::HostDir dir;
  dir.Write("f", "abcdef");
  EXPECT_EQ(ReadFilePrefix(dir.PathOf("F"), 4, nullptr), "abcd");
  EXPECT_EQ(ReadFilePrefix(dir.PathOf("f"), 100, nullptr), "abcdef");
  std::string err;
  EXPECT_FALSE(ReadFilePrefix(dir.PathOf("none"), 4, &err).has_value());
  EXPECT_FALSE(err.empty());
  InputFile directory;
  EXPECT_FALSE(directory.Open(dir.path(), nullptr));
}

}  // namespace
}  // namespace postil::platform
