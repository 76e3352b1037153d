#include "platform/files.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/host_dir.h"

namespace postil::platform {
namespace {

TEST(Files, HostPathsFindFilesWithoutRegardToCase) {
  test::HostDir dir;
  dir.Write("Spool/In/M0001.msg", "x");
  const std::string& base = dir.path();
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

TEST(Files, DurableFileReplacesAFileUnderItsOwnSpelling) {
  test::HostDir dir;
  dir.Write("postil.idx", "old");
  DurableFile file;
  ASSERT_TRUE(file.Create(dir.PathOf("POSTIL.IDX"), dir.PathOf("POSTIL.IDX.tmp"), nullptr));
  EXPECT_TRUE(file.Write("new"));
  std::string err;
  ASSERT_TRUE(file.Commit(&err)) << err;
  EXPECT_EQ(dir.List(), std::vector<std::string>{"postil.idx"});
  EXPECT_EQ(dir.Read("postil.idx"), "new");
}

// A child process that holds a temporary file of a DurableFile until it is
// killed, as a run killed while writing a file.
class ChildWriter {
 public:
  explicit ChildWriter(const std::string& temp_path) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      DurableFile file;
      char created = file.Create(temp_path + ".final", temp_path, nullptr) ? 'y' : 'n';
      if (::write(ready[1], &created, 1) == 1) ::sleep(60);
      ::_exit(0);
    }
    ::close(ready[1]);
    pollfd wait_for{ready[0], POLLIN, 0};
    char created = 'n';
    if (pid_ > 0 && ::poll(&wait_for, 1, 10000) == 1 && ::read(ready[0], &created, 1) == 1)
      writing_ = created == 'y';
    ::close(ready[0]);
  }
  ~ChildWriter() { Kill(); }

  bool writing() const { return writing_; }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool writing_ = false;
};

// Only a temporary file that nobody writes any more is removed: one left by
// a killed process, not one that this process or another one is writing.
TEST(Files, RemoveAbandonedFileSparesFilesBeingWritten) {
  test::HostDir dir;
  dir.Write("left.tmp", "half");
  EXPECT_TRUE(RemoveAbandonedFile(dir.PathOf("LEFT.TMP")));
  EXPECT_FALSE(dir.Exists("left.tmp"));
  EXPECT_FALSE(RemoveAbandonedFile(dir.PathOf("left.tmp")));
  dir.MakeDir("dir.tmp");
  EXPECT_FALSE(RemoveAbandonedFile(dir.PathOf("dir.tmp")));
  EXPECT_TRUE(dir.Exists("dir.tmp"));

  DurableFile mine;
  ASSERT_TRUE(mine.Create(dir.PathOf("mine"), dir.PathOf("mine.tmp"), nullptr));
  EXPECT_FALSE(RemoveAbandonedFile(dir.PathOf("mine.tmp")));
  EXPECT_TRUE(mine.Write("kept"));
  std::string err;
  ASSERT_TRUE(mine.Commit(&err)) << err;
  EXPECT_EQ(dir.Read("mine"), "kept");

  ChildWriter child(dir.PathOf("child.tmp"));
  ASSERT_TRUE(child.writing());
  EXPECT_FALSE(RemoveAbandonedFile(dir.PathOf("child.tmp")));
  EXPECT_TRUE(dir.Exists("child.tmp"));
  child.Kill();
  EXPECT_TRUE(RemoveAbandonedFile(dir.PathOf("child.tmp")));
  EXPECT_FALSE(dir.Exists("child.tmp"));
}

TEST(Files, ReadFilePrefixAndInputFile) {
  test::HostDir dir;
  dir.Write("f", "abcdef");
  EXPECT_EQ(ReadFilePrefix(dir.PathOf("F"), 4), "abcd");
  EXPECT_EQ(ReadFilePrefix(dir.PathOf("f"), 100), "abcdef");
  // The memory follows the file, not a generous bound.
  std::optional<std::string> small = ReadFilePrefix(dir.PathOf("f"), 64 << 20);
  ASSERT_TRUE(small);
  EXPECT_EQ(*small, "abcdef");
  EXPECT_LT(small->capacity(), 64u * 1024);
  EXPECT_FALSE(ReadFilePrefix(dir.PathOf("none"), 4).has_value());
  InputFile directory;
  EXPECT_FALSE(directory.Open(dir.path(), nullptr));
}

}  // namespace
}  // namespace postil::platform
