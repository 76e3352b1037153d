#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"
#include "support/test_system.h"

namespace postil {
namespace {

constexpr std::string_view kProgram = "POSTIL ";
constexpr std::string_view kVersion = "v1.99g";

TEST(LogWriter, LineLayoutMarksAndTags) {
  test::FixedClock clock(test::SampleTime());
  Log log(clock, kProgram, kVersion);
  struct Case {
    LogThread thread;
    LogLevel level;
    std::string expected;
  };
  // No line uses a level outside the table; it is written in debug mode only.
  const auto unknown_level = static_cast<LogLevel>(11);
  const Case cases[] = {
      {LogThread::kMain, LogLevel::kProgress, "  09:05:07  POSTIL   : text"},
      {LogThread::kScreen, LogLevel::kDataError, "! 09:05:07  POSTIL #0: text"},
      {LogThread::kPop3, LogLevel::kFailure, "? 09:05:07  POSTIL #1: text"},
      {LogThread::kSmtp, LogLevel::kUnused3, "$ 09:05:07  POSTIL #2: text"},
      {LogThread::kPop3, LogLevel::kUnused5, ": 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kSetUp, "+ 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kMessageAction, "- 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kStatistics, "% 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kDialogueStart, "~ 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kConnection, "= 09:05:07  POSTIL #1: text"},
      {LogThread::kPop3, LogLevel::kSpoolDetail, ""},
      {LogThread::kPop3, LogLevel::kTrace, ""},
      {LogThread::kPop3, unknown_level, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.level));
    EXPECT_EQ(log.FormatLine("text", c.thread, c.level), c.expected);
  }
}

// Server text reaches the log inside these texts: its control bytes are shown
// in caret notation, our own detail block keeps its form.
TEST(LogWriter, ControlBytesOfTheTextAreShownAsCarets) {
  test::FixedClock clock(test::SampleTime());
  Log log(clock, kProgram, kVersion);
  const std::pair<std::string, std::string> cases[] = {
      {"+OK \x1B]0;title\x07ready", "+OK ^[]0;title^Gready"},
      {"-ERR \x1B[2J\x7F", "-ERR ^[[2J^?"},
      {std::string("a\0b\x1F", 4), "a^@b^_"},
      {"one\r\ntwo\n", "one^M^Jtwo^J"},
      {"tab\tkept, high bytes kept: \x80\x9B\xFF ^", "tab\tkept, high bytes kept: \x80\x9B\xFF ^"},
      {"Message 1 <1@x>\n\t\t\t\xC3 from: a <a@b>\n\t\t\t\xC0 Subject: x\x1B",
       "Message 1 <1@x>\n\t\t\t\xC3 from: a <a@b>\n\t\t\t\xC0 Subject: x^["},
      {"\r\n\tx", "^M\n\tx"},
  };
  for (const auto& [text, shown] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(log.FormatLine(text, LogThread::kPop3, LogLevel::kProgress),
              "  09:05:07  POSTIL #1: " + shown);
  }
}

TEST(LogWriter, DateStampFollowsQuillog) {
  test::FixedClock clock(test::SampleTime());
  Log log(clock, kProgram, kVersion);
  platform::SetEnvironment("QUILLOG", std::nullopt);
  EXPECT_EQ(log.LogDateStamp(), "Sun 06 Dec 26");
  platform::SetEnvironment("QUILLOG", "qV");
  EXPECT_EQ(log.LogDateStamp(), "06.12.2026");
  platform::SetEnvironment("QUILLOG", "QV2");
  EXPECT_EQ(log.LogDateStamp(), "Sun 06 Dec 26");
  platform::SetEnvironment("QUILLOG", std::nullopt);
}

// Four threads writing at once: every line reaches the file whole.
TEST(LogWriter, LinesOfConcurrentThreadsNeverInterleave) {
  test::HostDir dir;
  std::filesystem::current_path(dir.path());
  platform::SystemClock clock;
  Log log(clock, kProgram, kVersion);
  log.SetupLog(std::nullopt);
  constexpr int kLinesPerThread = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      const Logger logger = log.For(static_cast<LogThread>(t - 1));
      std::string text = "thread " + std::to_string(t) + " " + std::string(300, 'a' + t);
      for (int i = 0; i < kLinesPerThread; ++i) logger.Write(LogLevel::kProgress, text);
    });
  }
  for (std::thread& thread : threads) thread.join();
  log.CloseLogs();

  std::istringstream in(dir.Read("QUIL.LOG"));
  std::string line;
  std::getline(in, line);  // header
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.back(), '\r');
    std::string text = line.substr(23, line.size() - 24);
    int t = text[7] - '0';
    ASSERT_EQ(text, "thread " + std::to_string(t) + " " + std::string(300, 'a' + t));
    ++count;
  }
  EXPECT_EQ(count, 4 * kLinesPerThread);
}

// A log that cannot be written is said once on the notice stream; the other
// log and the run go on.
TEST(LogWriter, AnUnwritableLogIsSaidOnce) {
  struct Case {
    const char* name;
    std::function<void(const test::HostDir&)> arrange;
    std::string notice;
  };
  std::vector<Case> cases = {
      {"a directory", [](const test::HostDir& dir) { dir.MakeDir("QUIL.LOG"); },
       "Error: cannot write to logfile QUIL.LOG: " +
           test::SystemErrorText(test::SystemError::kIsDirectory) + "\n"},
  };
  const std::string full_device = test::FullDevicePath();
  if (!full_device.empty()) {
    cases.push_back({"a full disk",
                     [&](const test::HostDir& dir) {
                       std::filesystem::create_symlink(full_device, dir.PathOf("QUIL.LOG"));
                     },
                     "Error: cannot write to logfile QUIL.LOG: " +
                         test::SystemErrorText(test::SystemError::kDiskFull) + "\n"});
  }
  platform::SetEnvironment("QUILLOG", std::nullopt);
  const std::filesystem::path start = std::filesystem::current_path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::HostDir dir;
    std::filesystem::current_path(dir.path());
    c.arrange(dir);
    test::FixedClock clock(test::SampleTime());
    Log log(clock, kProgram, kVersion);
    std::ostringstream notices;
    log.SetupLog(std::string(), notices);  // the host log beside it
    log.For(LogThread::kMain).Write(LogLevel::kProgress, "first");
    log.For(LogThread::kPop3).Write(LogLevel::kFailure, "second");
    log.CloseLogs();
    EXPECT_EQ(notices.str(), c.notice);
    EXPECT_EQ(dir.Read("QV-PPP.LOG"),
              "----------  Sun 06 Dec 26, QUIL v1.99g\r\n"
              "  09:05:07  POSTIL   : first\r\n"
              "? 09:05:07  POSTIL #1: second\r\n");
    std::filesystem::current_path(start);
  }
  if (full_device.empty()) GTEST_SKIP() << "no device that is always full: the full disk not tried";
}

}  // namespace
}  // namespace postil
