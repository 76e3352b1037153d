#include "smtp/spool_line_reader.h"

#include <gtest/gtest.h>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

// The lines the splitter gives for `bytes` fed in two blocks split at
// `split`, the rest taken at the end.
std::vector<std::string> SplitAt(std::string_view bytes, std::size_t split) {
  SpoolLineSplitter splitter;
  std::vector<std::string> lines;
  std::string line;
  splitter.Feed(bytes.substr(0, split));
  while (splitter.NextLine(&line)) lines.push_back(line);
  splitter.Feed(bytes.substr(split));
  while (splitter.NextLine(&line)) lines.push_back(line);
  if (splitter.TakeRest(&line)) lines.push_back(line);
  return lines;
}

TEST(SpoolLineSplitter, SameLinesWhereverABlockEnds) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},          // a last line without LF
      {"x\ry\r\n\n", {"xy", ""}},    // CR anywhere is dropped
      {std::string("n\0l\n", 4), {std::string("n\0l", 3)}},
      {"\n\n", {"", ""}},
      {"", {}},
  };
  for (const Case& c : cases) {
    for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
      SCOPED_TRACE(testing::Message() << c.bytes << " split at " << split);
      EXPECT_EQ(SplitAt(c.bytes, split), c.lines);
    }
  }
}

class SpoolLineReaderTest : public testing::Test {
 protected:
  // Reads the file of `bytes` to its end: each line with the end flag
  // after the call.
  std::vector<std::pair<std::string, bool>> ReadAll(const std::string& bytes) {
    dir_.Write("F.OUT", bytes);
    platform::InputFile file;
    EXPECT_TRUE(file.Open(dir_.PathOf("F.OUT"), nullptr));
    SpoolLineReader reader(state_.log.For(LogThread::kSmtp), file, bytes.size());
    std::vector<std::pair<std::string, bool>> lines;
    for (int i = 0; i < 100000 && !reader.AtEnd(); ++i) {
      std::string line = reader.ReadSpoolLine();
      lines.emplace_back(line, reader.AtEnd());
    }
    failed_ = reader.Failed();
    counter_ = reader.LineCounter();
    return lines;
  }

  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
  test::HostDir dir_;
  bool failed_ = false;
  std::uint32_t counter_ = 0;
};

using Lines = std::vector<std::pair<std::string, bool>>;

TEST_F(SpoolLineReaderTest, EndFlagComesWithTheLastLine) {
  EXPECT_EQ(ReadAll("a\nb\n"), (Lines{{"a", false}, {"b", true}}));
  EXPECT_EQ(counter_, 2u);
  EXPECT_EQ(ReadAll("a\nb"), (Lines{{"a", false}, {"b", true}}));
  EXPECT_EQ(ReadAll(""), (Lines{{"", true}}));
  EXPECT_EQ(counter_, 0u);
}

TEST_F(SpoolLineReaderTest, LinesSpanTheBlocks) {
  std::string first(SpoolLineReader::kBlockBytes - 1, 'a');  // its LF ends the first block
  std::string second(SpoolLineReader::kBlockBytes * 2 + 10, 'b');
  Lines lines = ReadAll(first + "\n" + second + "\r\nend\n");
  EXPECT_EQ(lines, (Lines{{first, false}, {second, false}, {"end", true}}));
  EXPECT_FALSE(failed_);
}

TEST_F(SpoolLineReaderTest, OverlongLineEndsTheFileAsAFailure) {
  Lines lines = ReadAll("ok\n" + std::string(SpoolLineSplitter::kMaxLineBytes + 5000, 'x') + "\n");
  EXPECT_EQ(lines, (Lines{{"ok", false}, {"", true}}));
  EXPECT_TRUE(failed_);
}

TEST_F(SpoolLineReaderTest, RestartReadsFromTheStartAgain) {
  dir_.Write("F.OUT", "one\ntwo\n");
  platform::InputFile file;
  ASSERT_TRUE(file.Open(dir_.PathOf("F.OUT"), nullptr));
  SpoolLineReader reader(state_.log.For(LogThread::kSmtp), file, 8);
  EXPECT_EQ(reader.ReadSpoolLine(), "one");
  ASSERT_TRUE(reader.Restart());
  EXPECT_EQ(reader.ReadSpoolLine(), "one");
  EXPECT_EQ(reader.ReadSpoolLine(), "two");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.LineCounter(), 2u);
}

}  // namespace
}  // namespace postil
