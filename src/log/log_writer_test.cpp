#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

TEST(LogWriter, LineLayoutMarksAndTags) {
  test::FixedClock clock(test::SampleTime());
  Log log(clock);
  struct Case {
    int thread;
    int level;
    std::string expected;
  };
  const Case cases[] = {
      {-1, 0, "  09:05:07  POSTIL   : text"},  {0, 1, "! 09:05:07  POSTIL #0: text"},
      {1, 2, "? 09:05:07  POSTIL #1: text"},   {2, 3, "$ 09:05:07  POSTIL #2: text"},
      {1, 5, ": 09:05:07  POSTIL #1: text"},   {1, 6, "+ 09:05:07  POSTIL #1: text"},
      {1, 7, "- 09:05:07  POSTIL #1: text"},   {1, 8, "% 09:05:07  POSTIL #1: text"},
      {1, 9, "~ 09:05:07  POSTIL #1: text"},   {1, 10, "= 09:05:07  POSTIL #1: text"},
      {1, 4, ""},                              {1, 255, ""},
      {1, 11, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(log.FormatLine("text", c.thread, c.level), c.expected);
  }
}

TEST(LogWriter, DateStampFollowsQuillog) {
  test::FixedClock clock(test::SampleTime());
  Log log(clock);
  ::unsetenv("QUILLOG");
  EXPECT_EQ(log.LogDateStamp(), "Sun 06 Dec 26");
  ::setenv("QUILLOG", "qV", 1);
  EXPECT_EQ(log.LogDateStamp(), "06.12.2026");
  ::setenv("QUILLOG", "QV2", 1);
  EXPECT_EQ(log.LogDateStamp(), "Sun 06 Dec 26");
  ::unsetenv("QUILLOG");
}

// Four threads writing at once: every line reaches the file whole.
TEST(LogWriter, LinesOfConcurrentThreadsNeverInterleave) {
  test::HostDir dir;
  std::filesystem::current_path(dir.path());
  platform::SystemClock clock;
  Log log(clock);
  log.SetupLog();
  constexpr int kLinesPerThread = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      std::string text = "thread " + std::to_string(t) + " " + std::string(300, 'a' + t);
      for (int i = 0; i < kLinesPerThread; ++i) log.WriteLog(text, t - 1, 0);
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

}  // namespace
}  // namespace postil
