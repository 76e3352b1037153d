#include "config/lookup_setting.h"

#include <gtest/gtest.h>

namespace postil {
namespace {

struct LookupCase {
  std::string text;
  std::string key;
  bool strip;
  std::string expected;
};

TEST(LookupSetting, FindsTheFirstMatchingLine) {
  const LookupCase cases[] = {
      {"$Pop3Server=mail.example\r\n", "$Pop3Server=", false, "mail.example"},
      // Box-file style: the "$" is stripped and every spelling of the key matches.
      {"Pop3Server = mail.example\r\n", "$Pop3Server=", true, "mail.example"},
      {"pop3server:mail.example\r\n", "$Pop3Server=", true, "mail.example"},
      {"POP3SERVER=mail.example\r\n", "$Pop3Server=", true, "mail.example"},
      // The "$" line is not found when the key is stripped, and vice versa.
      {"$Pop3Server=a\r\nPop3Server=b\r\n", "$Pop3Server=", true, "b"},
      {"Pop3Server=b\r\n$Pop3Server=a\r\n", "$Pop3Server=", false, "a"},
      // First occurrence wins, even when empty: then the default applies.
      {"$Pop3Port=\r\n$Pop3Port=995\r\n", "$Pop3Port=", false, "dflt"},
      {"$Pop3Port=110\r\n$Pop3Port=995\r\n", "$Pop3Port=", false, "110"},
      // A leading blank never matches; only one blank before "=" is dropped.
      {" $Pop3Port=1\r\n", "$Pop3Port=", false, "dflt"},
      {"$Pop3Port  =1\r\n", "$Pop3Port=", false, "dflt"},
      // Text after the last LF is never examined.
      {"$Pop3Port=1", "$Pop3Port=", false, "dflt"},
      // Values are trimmed; CR anywhere in a line is dropped.
      {"$Pop3Port=   7 \r\n", "$Pop3Port=", false, "7"},
      {"$Pop3Po\rrt=7\n", "$Pop3Port=", false, "7"},
      // A key is matched as a prefix of the line.
      {"$Pop3PortX=7\r\n$Pop3Port=8\r\n", "$Pop3Port=", false, "8"},
      // The value keeps its own ":" and "=" (a password, a drive letter).
      {"$Pop3Pass=se:cr=et\r\n", "$Pop3Pass=", false, "se:cr=et"},
      {"Pop3Spool : C:\\QV\\SPOOL\\\r\n", "$Pop3Spool=", true, "C:\\QV\\SPOOL\\"},
      {"LogDir=C:\\QV\\LOG\\\r\n", "$LOGDIR=", true, "C:\\QV\\LOG\\"},
      // A UTF-8 byte order mark opening the text is not part of the first line,
      // elsewhere it is text like any other.
      {"\xEF\xBB\xBF$Pop3Port=1\r\n", "$Pop3Port=", false, "1"},
      {"\xEF\xBB\xBFLogDir=C:\\\r\n", "$LOGDIR=", true, "C:\\"},
      {"x\r\n\xEF\xBB\xBF$Pop3Port=1\r\n", "$Pop3Port=", false, "dflt"},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(LookupSetting(c.text, c.key, "dflt", c.strip), c.expected);
  }
}

TEST(LookupSetting, WordTests) {
  for (const char* yes : {"enabled", "ENABLED", "j", "J", "y", "on", "ON", "Ein", "true", "1"})
    EXPECT_TRUE(IsYesWord(yes)) << yes;
  for (const char* no : {"", "Yes", "yes", "no", " on", "on ", "2", "disabled"})
    EXPECT_FALSE(IsYesWord(no)) << no;
  for (const char* off : {"disabled", "N", "off", "FALSE", "aus", "0"})
    EXPECT_TRUE(IsOffWord(off)) << off;
  for (const char* on : {"", "nein", "user@example", "00"}) EXPECT_FALSE(IsOffWord(on)) << on;
}

TEST(LookupSetting, NumericRule) {
  const std::pair<const char*, double> cases[] = {
      {"12", 12},  {"  12abc", 12}, {"abc", 0},  {"", 0},     {"-3", -3},
      {"2.5", 3},  {"2.4", 2},      {"+7", 7},   {".6", 1},   {"- 5", 0},
      {"1e3", 1},  {"99999999", 99999999},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(NumericValue(text), expected) << text;
  EXPECT_FALSE(LeadingNumber("x1").has_value());
  EXPECT_DOUBLE_EQ(*LeadingNumber("36000.5   "), 36000.5);
}

}  // namespace
}  // namespace postil
