#include "filter/filter_eval.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filter/killfile_test_text.h"
#include "filter/rule_line.h"

namespace postil {
namespace {

using namespace std::string_literals;
using test::KillTable;
using test::KillText;
using Kind = FilterVerdict::Kind;

const platform::LocalTime kToday{2026, 12, 10};

// A message as the scan hands it over; header lines are given from entry 1.
struct Message {
  std::string subject = "Hello";
  std::string from = "ann@example.org (Ann)";
  std::string to = "me@example.org";
  std::vector<std::string> headers;
  long long size = 0;
  std::string references;
};

class View {
 public:
  explicit View(const Message& m) : lines_{""} {
    lines_.insert(lines_.end(), m.headers.begin(), m.headers.end());
    view_.Subject = m.subject;
    view_.From = m.from;
    view_.To = m.to;
    view_.References = m.references;
    view_.MessageId = "<id@example.org>";
    view_.HeaderLines = &lines_;
    view_.Size = m.size;
  }
  const MessageView& get() const { return view_; }

 private:
  std::vector<std::string> lines_;
  MessageView view_;
};

bool RuleHolds(std::string_view rule, const Message& message) {
  RuleTable rules = KillTable("--- ALLE\n" + std::string(rule));
  FilterCursor cursor;
  return EvaluateFilter(rules, View(message).get(), &cursor, kToday).matched;
}

Message WithSubject(std::string subject) {
  Message m;
  m.subject = std::move(subject);
  return m;
}
Message WithFrom(std::string from) {
  Message m;
  m.from = std::move(from);
  m.subject = "";
  return m;
}
Message WithHeaders(std::vector<std::string> headers) {
  Message m;
  m.headers = std::move(headers);
  return m;
}
Message WithReferences(std::string references) {
  Message m;
  m.references = std::move(references);
  return m;
}
Message WithSize(long long size) {
  Message m;
  m.size = size;
  return m;
}

struct ConditionCase {
  std::string rule;
  Message message;
  bool holds;
};

void RunConditionCases(const std::vector<ConditionCase>& cases) {
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE("rule '" + c.rule + "' subject '" + c.message.subject + "' from '" +
                 c.message.from + "'");
    EXPECT_EQ(RuleHolds(c.rule, c.message), c.holds);
  }
}

TEST(FilterConditionTest, PatternsAndOptionLetters) {
  RunConditionCases({
      {"\"*LOTTO*\" %SN |DELE", WithSubject("Win the lotto now"), true},
      {"\"*lotto*\" %SN |DELE", WithSubject("Win the LOTTO now"), true},
      {"\"*LOTTO*\" %SNC |DELE", WithSubject("Win the lotto now"), false},
      {"\"*Lotto*\" %C", WithSubject("Win the Lotto"), true},
      {"\"*lotto*\" %N", WithSubject("Win the lotto now"), false},
      {"\"*sale\"", WithSubject("SALE SALE"), false},
      {"*hello*|SKIP", WithSubject("Hello"), true},  // unquoted, no option word
      {"\"*xyz*\" %XS", WithSubject("Hello"), true},
      {"\"*xyz*\" %XS", WithSubject("xyz"), false},
      {"\"*cat*\" %G", WithSubject("concat cat"), false},
      {"\"*me@*\" %B", Message{}, true},
      {"\"*hello*\" %V", Message{}, false},  // "V" names a target but searches nothing
      {"\"*hello*\" %Q", Message{}, true},   // no target letter: Subject
      {"\"*ann*\" %N", WithFrom("ann@example.org (Ann)"), true},
      // A letter counts once: "NN" is not "S", "SS" not "R", "XX" not "Q".
      {"\"*ann*\" %NN", WithFrom("ann@example.org (Ann)"), true},
      {"\"*hello*\" %SS", Message{}, true},
      {"\"*xyz*\" %XX", Message{}, true},
  });
}

TEST(FilterConditionTest, ConjunctionsAndSharedOptionWord) {
  RunConditionCases({
      {"\"*win*\" %S;\"*now*\"", WithSubject("win now"), true},
      {"\"*win*\" %S;\"*now*\"", WithSubject("win"), false},
      {"\"*win*\" %S;\"*now*\"", WithSubject("now"), false},
      {"\"*a;b*\" %S", WithSubject("x a;b y"), true},  // the quoted ";" does not split
      // The first option word serves the parts without one: the second part searches From.
      {"\"*ann*\" %N;\"*example*\"", WithFrom("ann@example.org"), true},
      {"\"*ann*\" %N;\"*example*\" %S", WithFrom("ann@example.org"), false},
      {"KILLALL", Message{}, true},
      {"KILLALL %X", Message{}, true},  // not negated
      {"KILLALL;\"*nope*\"", Message{}, true},
      {"\"*nope*\";KILLALL", Message{}, false},
      {"ISREPLY", Message{}, false},
      {"ISREPLY %X", Message{}, true},
      {"ISREPLY", WithReferences("<a@b>"), true},
  });
}

TEST(FilterConditionTest, HeaderNames) {
  std::vector<std::string> many(127, "Received: x");
  std::vector<std::string> at_128 = many;
  at_128.push_back("X-Mailer: foo");
  std::vector<std::string> at_129 = at_128;
  at_129.insert(at_129.begin(), "Received: y");
  RunConditionCases({
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders({"Subject: a", "X-Mailer: FooMail 1.0"}), true},
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders({"X-Mailer: bar", "x-mailer:foo"}), true},
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders({"X-Mailer-Foo: foo"}), false},
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders({"Subject: a", "", "X-Mailer: foo"}), false},
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders(at_128), true},
      {"\"*foo*\" %\"X-MAILER:\"", WithHeaders(at_129), false},
      {"\"foo\" %\"X-MAILER:\"", WithHeaders({"X-Mailer:   foo"}), true},
      // Joined values: each line ends with 0xFF, which ends a match too.
      {"\"bar\" %\"X-A:\"", WithHeaders({"X-A: foo", "X-A: bar"}), false},
      {"\"*bar\" %\"X-A:\"", WithHeaders({"X-A: foo", "X-A: bar"}), true},
      {"\"*bar*\" %G\"X-A:\"", WithHeaders({"X-A: a bar"}), true},
      {"\"*xyz*\" %\"X-A:\"\"X-B:\"", WithHeaders({"X-B: xyz"}), true},
      {"\"*xyz*\" %\"X-A:X-B:\"", WithHeaders({"X-B: xyz"}), true},
      {"\"*xyz*\" %\"X-B\"", WithHeaders({"X-B: xyz"}), true},   // the ":" is implied
      {"\"*xyz*\" %\"X-B:", WithHeaders({"X-B: xyz"}), true},    // unclosed group
      {"\"*hello*\" %\"X-B:\"", WithHeaders({"X-B: xyz"}), false},  // a name drops the Subject
      // A value with a CR is matched up to its CR.
      {"\"foo\" %\"X-A:\"", WithHeaders({"X-A: foo\rbar"}), true},
      {"\"*me@*\" %\"EMP:\"", Message{}, true},
      {"\"*me@*\" %\"TO:\"", WithHeaders({"To: someone"}), true},
      {"\"<id@example.org>\" %\"MID:\"", Message{}, true},
      {"\"*\" %\"BEZ:\"", Message{}, false},  // an empty value is skipped
      {"\"1234\" %\"LEN:\"", WithSize(1234), true},
  });
}

TEST(FilterConditionTest, KeywordConditions) {
  RunConditionCases({
      {"BYTES@1000", WithSize(1000), true},
      {"BYTES@1000", WithSize(999), false},
      {"BYTES@1000 %X", WithSize(999), true},
      {"\"*big*\" BYTES@ 5", WithSize(5), true},  // the keyword wins over the pattern
      {"DAYS@9", WithHeaders({"EDA: 20261201"}), true},
      {"DAYS@10", WithHeaders({"EDA: 20261201"}), false},
      {"DAYS@20", WithHeaders({"eda:20261230"}), true},  // the age has no sign
      {"DAYS@1", WithHeaders({"Subject: x", "EDA: 20251210", "EDA: 20261210"}), true},
      {"DAYS@1", Message{}, false},
      {"DAYS@0", Message{}, true},
      {"DAYS@1", WithHeaders({"EDA: 2026x201"}), false},  // unreadable: age 0
      {"DAYS@1", WithHeaders({"EDA: 20261301"}), false},
      {"THREAD@3", Message{}, false},
      {"THREAD@3 %X", Message{}, true},
      {"TIMES@3,WIN", WithSubject("win win WIN"), true},
      {"TIMES@4,WIN", WithSubject("win win WIN"), false},
      {"TIMES@3,AA", WithSubject("aaaa"), true},
      {"TIMES@3,win %SN", [] { auto m = WithSubject("win"); m.from = "win win"; return m; }(), true},
      {"TIMES@2,ann %N", WithFrom("ann@example.org (Ann)"), true},
      {"TIMES@2,Win %C", WithSubject("Win win Win"), true},
      {"TIMES@2,Win %C", WithSubject("Win win WIN"), false},
      {"TIMES@1 %X", WithSubject("x"), false},  // no comma: never, whatever the options
      {"TIMES@0,", WithSubject("x"), true},     // an empty word counts nothing
  });
}

TEST(FilterConditionTest, DayNumberIsTheJulianDay) {
  EXPECT_EQ(DayNumber(2000, 1, 1), 2451545);
  EXPECT_EQ(DayNumber(1970, 1, 1), 2440588);
  EXPECT_EQ(DayNumber(2024, 3, 1) - DayNumber(2024, 2, 28), 2);  // leap year
  EXPECT_EQ(DayNumber(2100, 3, 1) - DayNumber(2100, 2, 28), 1);
}

TEST(FilterWalkTest, TargetLists) {
  const struct {
    std::string targets;
    std::string to;
    bool applies;
  } cases[] = {
      {"ALLE *", "me@example.org", false},
      {"* ALLE", "me@example.org", true},
      {"ALLE", "me@example.org", true},
      {"me@*", "me@example.org", false},  // the list is upper case, To is not folded
      {"me@*", "ME@EXAMPLE.ORG", true},
      {"ALLE me@*", "ME@X", false},
      {"ALLE me@*", "YOU@X", true},
      {"bob@*  me@*", "ME@X", true},
      {"bob@*", "ME@X", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("targets '" + c.targets + "' To '" + c.to + "'");
    RuleTable rules = KillTable("--- " + c.targets + "\nKILLALL|DELE");
    Message m;
    m.to = c.to;
    FilterCursor cursor;
    EXPECT_EQ(EvaluateFilter(rules, View(m).get(), &cursor, kToday).matched, c.applies);
  }
}

TEST(FilterWalkTest, ResumesAfterEachHoldingRuleAndStartsOverAtTheEnd) {
  RuleTable rules = KillTable(
      "--- ALLE\n"
      "KILLALL|SKIP\n"
      "\"*nope*\"|RETR\n"
      "--- nobody\n"
      "KILLALL|HEAD\n"
      "--- ALLE\n"
      "\"*hello*\" %SQ|DELE\n");
  View view{Message{}};
  FilterCursor cursor;
  FilterResult first = EvaluateFilter(rules, view.get(), &cursor, kToday);
  EXPECT_TRUE(first.matched);
  EXPECT_EQ(first.action, "SKIP ");
  EXPECT_EQ(first.reason, "KILLALL\xAFSKIP ");
  EXPECT_EQ(cursor.section, 1);
  EXPECT_EQ(cursor.entry, 2);

  FilterResult second = EvaluateFilter(rules, view.get(), &cursor, kToday);
  EXPECT_TRUE(second.matched);
  EXPECT_EQ(second.action, "DELE ");
  EXPECT_EQ(second.reason, KillText("\"*hello*\" %SQ|DELE "));
  EXPECT_EQ(second.flags, kOptionS | kOptionQ | kOptionM);
  EXPECT_EQ(cursor.section, 3);

  FilterResult third = EvaluateFilter(rules, view.get(), &cursor, kToday);
  EXPECT_FALSE(third.matched);
  EXPECT_EQ(cursor.section, 1);
  EXPECT_EQ(cursor.entry, 1);
}

TEST(FilterWalkTest, SectionWithoutTargetsEndsTheWalk) {
  View view{Message{}};
  for (bool with_empty_section : {false, true}) {
    SCOPED_TRACE(with_empty_section);
    RuleTable rules = KillTable("--- ALLE\n\"*nope*\"\n" +
                                std::string(with_empty_section ? "---  #comment\n" : "") +
                                "--- ALLE\nKILLALL|DELE");
    FilterCursor cursor;
    EXPECT_EQ(EvaluateFilter(rules, view.get(), &cursor, kToday).matched, !with_empty_section);
  }
  FilterCursor cursor;
  EXPECT_FALSE(EvaluateFilter(RuleTable{}, view.get(), &cursor, kToday).matched);
}

struct VerdictCase {
  std::string killfile;
  Kind kind;
  std::string recipient;
};

void RunVerdictCases(const std::vector<VerdictCase>& cases, const Message& message) {
  View view{message};
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.killfile.substr(c.killfile.size() - std::min<std::size_t>(60, c.killfile.size())));
    FilterVerdict verdict = DecideFilterVerdict(KillTable(c.killfile), view.get(), kToday);
    EXPECT_EQ(verdict.kind, c.kind);
    EXPECT_EQ(verdict.recipient, c.recipient);
  }
}

TEST(FilterVerdictTest, LastHoldingRuleWithAKnownActionDecides) {
  RunVerdictCases(
      {
          {"--- ALLE\nKILLALL|RETR", Kind::kFetch, ""},
          {"--- ALLE\nKILLALL|  HEAD  ", Kind::kHeaderOnly, ""},
          {"--- ALLE\nKILLALL|SKIP\nKILLALL|DELE", Kind::kKill, ""},
          {"--- ALLE\nKILLALL %Q|SKIP\nKILLALL|DELE", Kind::kSkip, ""},
          {"--- ALLE\nKILLALL|SKIP\nKILLALL|FOO\nKILLALL", Kind::kSkip, ""},
          {"--- ALLE\nKILLALL|dele", Kind::kNone, ""},  // compared exactly
          {"--- ALLE\n\"*nope*\"|DELE", Kind::kNone, ""},
          {"--- ALLE\nKILLALL|ENVELOPE-TO: boss@example.org", Kind::kRedirect,
           "boss@example.org"},
          {"--- ALLE\nKILLALL|envelope-to:boss", Kind::kRedirect, "boss"},
          {"--- ALLE\nKILLALL|  ENVELOPE-TO:  boss  ", Kind::kRedirect, "boss"},
          {"--- ALLE\n\"*\" %S\"ENVELOPE-TO:\"|123456789012boss", Kind::kRedirect, "boss"},
          {"--- ALLE\nKILLALL|DELE\nKILLALL|ENVELOPE-TO:boss", Kind::kRedirect, "boss"},
          // Without a recipient a redirection names no verdict.
          {"--- ALLE\nKILLALL|SKIP\nKILLALL|ENVELOPE-TO:  ", Kind::kSkip, ""},
      },
      Message{});
}

// A table put together without the loader has no parsed rules; it is
// evaluated all the same.
TEST(FilterVerdictTest, HandBuiltTableIsEvaluated) {
  RuleTable rules;
  rules.sections.push_back({"ALLE", {KillText("\"*nope*\"|SKIP "), KillText("\"*hello*\" %S|DELE ")}});
  View view{Message{}};
  EXPECT_EQ(DecideFilterVerdict(rules, view.get(), kToday).kind, Kind::kKill);
}

TEST(FilterVerdictTest, VerdictKeepsTheReasonOfTheDecidingRule) {
  View view{Message{}};
  FilterVerdict verdict =
      DecideFilterVerdict(KillTable("--- ALLE\n\"*hello*\"|DELE\nKILLALL|FOO"), view.get(), kToday);
  EXPECT_EQ(verdict.kind, Kind::kKill);
  EXPECT_EQ(verdict.reason, KillText("\"*hello*\"|DELE "));
}

// Malformed killfiles and hostile header values: evaluation finishes with
// the verdict the rules give, or none.
TEST(FilterVerdictTest, BadInputNeverBreaksTheEvaluation) {
  std::string many_wildcards;
  for (int i = 0; i < 5000; ++i) many_wildcards += "*?";
  std::string many_rules = "--- ALLE\n";
  for (int i = 0; i < 30000; ++i) many_rules += "\"*spam" + std::to_string(i) + "*\" %SN|DELE\n";
  std::string long_word(100000, 'x');
  Message hostile = WithSubject("lot\xFFto\0now "s + long_word);
  hostile.from = "\0\xFF\r"s;
  hostile.headers = {"X-A: \xFF\0"s, "EDA: \xFF", "X-A:"};
  RunVerdictCases(
      {
          {"--- ALLE\n\"*lotto %S|DELE", Kind::kNone, ""},   // unbalanced quote
          {"--- ALLE\n\"*now*|DELE", Kind::kKill, ""},
          {"--- ALLE\n|", Kind::kNone, ""},
          {"--- ALLE\n%", Kind::kNone, ""},
          {"--- ALLE\n%%%x\n%|%|DELE", Kind::kNone, ""},
          {"--- ALLE\n|||DELE", Kind::kNone, ""},
          {"--- ALLE\n\"" + many_wildcards + "\"|DELE", Kind::kNone, ""},
          {"--- ALLE\n\"" + many_wildcards + "*\"|DELE", Kind::kKill, ""},
          {"--- ALLE\n\"*lot*\"|DELE", Kind::kKill, ""},
          {"--- ALLE\n\"*" + long_word + "*\" %G|DELE", Kind::kKill, ""},
          {"--- ALLE\nTIMES@95001," + std::string(5000, 'x') + "|DELE", Kind::kKill, ""},
          {"--- ALLE\nTIMES@95002," + std::string(5000, 'x') + "|DELE", Kind::kNone, ""},
          {"--- ALLE\n\"*\" %N\"X-A:\"|SKIP", Kind::kSkip, ""},
          {"--- ALLE\nDAYS@1|DELE", Kind::kNone, ""},
          {"---\n---\n--- ALLE\nKILLALL|DELE", Kind::kNone, ""},
          {many_rules + "\"*now*\"|DELE", Kind::kKill, ""},
      },
      hostile);
}

// Random rule lines built from the syntax bytes against random headers.
// Each match must be a rule of the table, split at its first 0xAF.
TEST(FilterVerdictTest, RandomRulesKeepTheirInvariants) {
  const std::vector<std::string> tokens = {
      "\"", ";", "*", "?", "%", "|", "#", "@", ",", " ", "a", "X", "S", "N", "Q", "C", "G",
      "B", ":", "---", "+++", "'", "KILLALL", "ISREPLY", "TIMES@2,a", "BYTES@", "DAYS@3",
      "THREAD@1", "\"X-A:\"", "\"LEN:\"", "ENVELOPE-TO:", "DELE", "SKIP", "\xFF", "\0"s, "\r"};
  std::mt19937 random(20261210);
  int matches = 0;
  auto random_text = [&](std::size_t max_tokens) {
    std::string text;
    for (std::size_t n = random() % max_tokens; n > 0; --n) text += tokens[random() % tokens.size()];
    return text;
  };
  for (int round = 0; round < 300; ++round) {
    std::string killfile = "--- ALLE\n";
    for (int line = 0; line < 20; ++line) killfile += random_text(12) + "\n";
    RuleTable rules = KillTable(killfile);
    Message message = WithSubject(random_text(8));
    message.from = random_text(6);
    message.headers = {"X-A: " + random_text(6), "EDA: " + random_text(2)};
    View view{message};
    FilterCursor cursor;
    for (int call = 0; call < 100; ++call) {
      FilterResult result = EvaluateFilter(rules, view.get(), &cursor, kToday);
      if (!result.matched) break;
      ++matches;
      ASSERT_GE(cursor.section, 1);
      const KillSection& section = rules.sections.at(cursor.section - 1);
      const std::string& line = section.rules.at(cursor.entry - 2);
      std::size_t mark = line.find('\xAF');
      std::string expected_action = mark == std::string::npos ? "" : line.substr(mark + 1);
      EXPECT_EQ(result.action, expected_action);
      EXPECT_EQ(result.reason, line.substr(0, mark) + "\xAF" + expected_action);
    }
    DecideFilterVerdict(rules, view.get(), kToday);
  }
  EXPECT_GT(matches, 100);  // the invariants were exercised
}

}  // namespace
}  // namespace postil
