#include "filter/match_pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "filter/option_flags.h"

namespace postil {
namespace {

using namespace std::string_literals;

struct MatchCase {
  std::string pattern;  // as the caller passes it (upper-cased unless "C")
  std::string text;
  std::uint32_t flags;
  bool matches;
};

TEST(MatchPatternTest, Cases) {
  const MatchCase cases[] = {
      {"*LOTTO*", "Win the lotto now", 0, true},
      {"*LOTTO*", "Win the lotto now", kOptionC, false},
      {"*lotto*", "Win the lotto now", kOptionC, true},
      // Only the first occurrence of a run is tried, and the text goes on after it.
      {"*SALE", "SALE SALE", 0, false},
      {"*SALE", "BIG SALE", 0, true},
      {"A?C", "ABC", 0, true},
      {"A?C", "ABCD", 0, false},
      {"ABC*", "ABCD", 0, true},
      {"ABC", "ABCD", 0, false},
      {"ABC?", "ABC", 0, false},  // "?" consumes a position even past the end
      {"**", "*", 0, true},
      {"**", "A", 0, false},
      {"**", "**", 0, false},
      {"A***", "A*XYZ", 0, true},  // a literal "*" then a final "*"
      {"A*?C", "ABC", 0, true},    // "*?" is "?"
      {"A*?C", "ABBC", 0, false},
      {"*", "", 0, true},
      {"", "", 0, true},
      {"", "A", 0, false},
      {"*B*D", "ABCD", 0, true},
      {"*B*D", "ABCDX", 0, false},
      {"*B?D", "ABXD", 0, true},
      // Whole-word test next to a leading and a final "*".
      {"*CAT*", "A CAT!", kOptionG, true},
      {"*CAT*", "CONCAT CAT", kOptionG, false},
      {"*CAT*", "CAT", kOptionG, true},
      {"*CAT*", "CATS", kOptionG, false},
      {"*CAT*", "CAT9", kOptionG, false},  // digits are word characters
      {"*CAT*", "9CAT", kOptionG, false},
      {"*CAT*", "CONCAT CAT", 0, true},
      {"X*CAT*", "XCATS", kOptionG, false},  // not after a leading "*": only the end is tested
      {"X*CAT*", "XA CAT", kOptionG, true},
      // 0xFF ends a line of a joined header value.
      {"FOO", "FOO\xFF" "BAR\xFF", 0, true},
      {"BAR", "FOO\xFF" "BAR\xFF", 0, false},
      {"*BAR", "FOO\xFF" "BAR\xFF", 0, true},
      {"*CAT*", "A CAT\xFF", kOptionG, true},
      {"*CAT*", "X\xFF" "CAT\xFF", kOptionG, true},
      // NUL bytes are bytes like any other.
      {"*B*", "A\0B"s, 0, true},
      {"A\0?"s, "A\0B"s, 0, true},
      {"\0"s, ""s, 0, false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE("pattern '" + c.pattern + "' text '" + c.text + "'");
    EXPECT_EQ(MatchPattern(c.pattern, c.text, c.flags), c.matches);
  }
}

TEST(MatchPatternTest, TextIsUpperCasedInCodePage437UnlessCaseSensitive) {
  EXPECT_TRUE(MatchPattern("*GR\x9A\xE1" "E*", "Gr\x81\xE1" "e", 0));  // ü folds to Ü
  EXPECT_FALSE(MatchPattern("*GR\x9A\xE1" "E*", "Gr\x81\xE1" "e", kOptionC));
  EXPECT_FALSE(MatchFoldedText("*LOTTO*", "lotto", 0));  // folded text is taken as it is
}

TEST(MatchPatternTest, CountsOverlappingOccurrences) {
  const struct {
    std::string word;
    std::string text;
    std::size_t count;
  } cases[] = {
      {"WIN", "WIN WIN WIN", 3},
      {"AA", "AAAA", 3},
      {"", "AAAA", 0},
      {"B", "AAAA", 0},
      {std::string(20, 'A'), std::string(25, 'A'), 6},  // the long-needle search
      {std::string(17, 'A') + "B", std::string(40, 'A') + "B" + std::string(17, 'A') + "B", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word + " in " + c.text);
    EXPECT_EQ(CountOccurrences(c.word, c.text), c.count);
  }
}

// Hostile header values against patterns made to provoke backtracking or
// repeated scanning: each must finish in time linear in pattern and text.
TEST(MatchPatternTest, StaysLinearOnHostileInput) {
  const std::string text(std::size_t{4} << 20, 'A');
  std::string stars;
  for (int i = 0; i < 20000; ++i) stars += "*A";
  std::string question_marks(20000, '?');
  const struct {
    std::string pattern;
    bool matches;
  } cases[] = {
      {"*" + std::string(400000, 'A') + "B", false},
      {"*" + std::string(10, 'A') + "B", false},
      {stars + "B", false},
      {stars + "*", true},
      {question_marks + "*", true},
      {"*" + question_marks + "*A?*A?*A?*B", false},
  };
  auto started = std::chrono::steady_clock::now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 40));
    EXPECT_EQ(MatchPattern(c.pattern, text, kOptionC), c.matches);
    EXPECT_EQ(MatchPattern(c.pattern, text, kOptionC | kOptionG),
              c.matches && c.pattern.front() != '*');
  }
  EXPECT_EQ(CountOccurrences(std::string(400000, 'A'), text), text.size() - 399999);
  // A search that compares the long run at every position would take
  // minutes here; a linear one takes milliseconds.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

}  // namespace
}  // namespace postil
