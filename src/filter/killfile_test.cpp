#include "filter/killfile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/run_state.h"
#include "filter/filter_eval.h"
#include "filter/killfile_test_text.h"
#include "support/host_dir.h"

namespace postil {
namespace {

using test::KillText;
using Sections = std::vector<std::pair<std::string, std::vector<std::string>>>;

Sections Flatten(const RuleTable& rules) {
  Sections out;
  for (const KillSection& s : rules.sections) out.emplace_back(s.targets, s.rules);
  return out;
}

class KillfileTest : public ::testing::Test {
 protected:
  // Loads `text` (stand-ins replaced) from a file of the host directory.
  bool Load(std::string_view text, RuleTable* rules) {
    dir_.Write("KILL.TXT", KillText(text));
    return LoadKillfile(state_, dir_.PathOf("KILL.TXT"), rules);
  }

  platform::SystemClock clock_;
  RunState state_{clock_};
  test::HostDir dir_;
};

TEST_F(KillfileTest, ReadsSectionsRulesAndComments) {
  RuleTable rules;
  ASSERT_TRUE(Load(
      "' a comment before anything\r\n"
      "\"*above*\"|DELE\r\n"  // before the first section: ignored
      "+++ global options\r\n"
      "--- alle \x84 \r\n"
      "  \"*lotto*\" %SN |DELE   #trailing comment\r\n"
      "   ' indented comment\r\n"
      "### comment # with marks\r\n"
      "%%% comment\r\n"
      "+++ option line inside a section\r\n"
      "   \r\n"
      "\"*x*\" ; \"*y*\"\n"
      "#only a comment\r\n"
      "---\r\n"
      "\"*z*\"\r\n"
      "--- me@*  #comment\r\n"
      "KILLALL|SKIP",  // no line end
      &rules));
  Sections expected = {
      {"ALLE \x8E", {KillText("\"*lotto*\" %SN |DELE "), "\"*x*\" ; \"*y*\" "}},
      {"", {"\"*z*\" "}},
      {"ME@*", {KillText("KILLALL|SKIP ")}},
  };
  EXPECT_EQ(Flatten(rules), expected);
}

TEST_F(KillfileTest, FilesWithoutRules) {
  const struct {
    std::string text;
    std::size_t sections;
  } cases[] = {
      {"", 0},
      {"' only\r\n### comments\r\n   ' here\r\n", 0},
      {"\"*lotto*\"|DELE\r\n+++ x\r\n", 0},
      {"---\r\n", 1},
      {"--- ALLE\r\n\r\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RuleTable rules;
    EXPECT_TRUE(Load(c.text, &rules));
    EXPECT_EQ(rules.sections.size(), c.sections);
    for (const KillSection& s : rules.sections) EXPECT_TRUE(s.rules.empty());
  }
}

TEST_F(KillfileTest, MissingFileIsNotLoaded) {
  RuleTable rules;
  rules.sections.push_back({"ALLE", {"KILLALL "}});
  EXPECT_FALSE(LoadKillfile(state_, dir_.PathOf("NOWHERE.TXT"), &rules));
  EXPECT_TRUE(rules.sections.empty());
}

TEST_F(KillfileTest, LongLinesUpToTheLimit) {
  std::string long_rule = "\"*" + std::string(100 * 1024, 'x') + "*\"|DELE";
  RuleTable rules;
  ASSERT_TRUE(Load("--- ALLE\r\n" + long_rule + "\r\nKILLALL\r\n", &rules));
  ASSERT_EQ(rules.sections.size(), 1u);
  EXPECT_EQ(rules.sections[0].rules, (std::vector<std::string>{KillText(long_rule) + " ", "KILLALL "}));

  std::string at_limit(kMaxKillfileLine, 'y');
  EXPECT_TRUE(Load("--- ALLE\n" + at_limit + "\n", &rules));
  // One byte more is refused as a whole, and nothing is kept.
  EXPECT_FALSE(Load("--- ALLE\nKILLALL\n" + at_limit + "y\n", &rules));
  EXPECT_TRUE(rules.sections.empty());
}

// More than 5000 countable lines (sections times the longest section) are
// held and evaluated like a small killfile.
TEST_F(KillfileTest, LargeKillfileIsHeldWhole) {
  std::string text;
  for (int section = 0; section < 51; ++section) {
    text += "--- ALLE\r\n";
    for (int rule = 0; rule < 100; ++rule) {
      text += "\"*spam" + std::to_string(section * 100 + rule) + "*\" %SN|DELE\r\n";
    }
  }
  text += "\"*hello*\"|SKIP\r\n";
  RuleTable rules;
  ASSERT_TRUE(Load(text, &rules));
  ASSERT_EQ(rules.sections.size(), 51u);
  EXPECT_EQ(rules.sections.back().rules.size(), 101u);

  std::vector<std::string> lines{"", "Subject: Hello"};
  MessageView view;
  view.Subject = "Hello";
  view.HeaderLines = &lines;
  FilterVerdict verdict = DecideFilterVerdict(rules, view, platform::LocalTime{2026, 12, 10});
  EXPECT_EQ(verdict.kind, FilterVerdict::Kind::kSkip);
  view.Subject = "cheap spam5042 here";
  verdict = DecideFilterVerdict(rules, view, platform::LocalTime{2026, 12, 10});
  EXPECT_EQ(verdict.kind, FilterVerdict::Kind::kKill);
}

}  // namespace
}  // namespace postil
