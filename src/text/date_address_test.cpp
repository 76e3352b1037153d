#include "text/date_address.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

using namespace std::string_literals;

TEST(MonthAbbrevTest, NamesTheTwelveMonthsAndNothingElse) {
  std::string all;
  for (int month = 1; month <= 12; ++month) all += MonthAbbrev(month);
  EXPECT_EQ(all, "JanFebMarAprMayJunJulAugSepOctNovDec");
  for (int month : {0, 13, -1, -32768, 32767}) {
    SCOPED_TRACE(month);
    EXPECT_EQ(MonthAbbrev(month), "");
  }
}

TEST(DateNamesTest, WeekStartsOnSunday) {
  std::string week;
  for (std::string_view day : kWeekdayAbbrevs) week += day;
  EXPECT_EQ(week, "SunMonTueWedThuFriSat");
}

TEST(TwoDigitsTest, LastTwoDigitsZeroFilled) {
  struct Case {
    int value;
    const char* expected;
  };
  const Case cases[] = {
      {0, "00"},   {7, "07"},    {9, "09"},    {10, "10"}, {59, "59"},    {99, "99"},
      {100, "00"}, {2026, "26"}, {1999, "99"}, {-7, "-7"}, {-123, "-23"}, {2147483647, "47"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(TwoDigits(c.value), c.expected);
  }
  EXPECT_EQ(ClockText(0, 0, 0), "00:00:00");
  EXPECT_EQ(ClockText(9, 5, 7), "09:05:07");
  EXPECT_EQ(ClockText(99, 59, 59), "99:59:59");
  EXPECT_EQ(ClockText(123, 60, 100), "23:60:00");
}

TEST(MakeDateHeaderTest, DayMonthYearTimeAndZone) {
  struct Case {
    int year, month, day, hour, minute, second, offset;
    const char* expected;
  };
  const Case cases[] = {
      {2026, 12, 6, 14, 58, 1, 60, "Date: 06 Dec 2026 14:58:01 +0100"},
      {2027, 1, 1, 0, 5, 9, 0, "Date: 01 Jan 2027 00:05:09 +0000"},
      {2026, 7, 31, 23, 59, 59, 120, "Date: 31 Jul 2026 23:59:59 +0200"},
      {2026, 3, 9, 8, 0, 0, -300, "Date: 09 Mar 2026 08:00:00 -0500"},
      {2026, 3, 9, 8, 0, 0, 330, "Date: 09 Mar 2026 08:00:00 +0530"},
      {999, 3, 9, 8, 0, 0, -570, "Date: 09 Mar 0999 08:00:00 -0930"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    platform::LocalTime t;
    t.year = c.year;
    t.month = c.month;
    t.day = c.day;
    t.hour = c.hour;
    t.minute = c.minute;
    t.second = c.second;
    t.millisecond = 999;
    t.utc_offset_minutes = c.offset;
    EXPECT_EQ(MakeDateHeader(t), c.expected);
  }
}

TEST(AddressFormsTest, NameFirstAndAddressFirst) {
  struct Case {
    std::string value;
    std::string name_addr;
    std::string addr_comment;
  };
  const Case cases[] = {
      {"Anna Berg <ab>", "Anna Berg <ab>", "ab (Anna Berg)"},
      {"ab (Anna Berg)", "Anna Berg <ab>", "ab (Anna Berg)"},
      {"\"Anna Berg\" <ab>", "Anna Berg <ab>", "ab (Anna Berg)"},
      {"<ab>", "<ab>", "ab"},
      {"ab", "<ab>", "ab"},
      {"", "<>", ""},
      {"   ", "<>", ""},
      {"  Anna <ab>  ", "Anna <ab>", "ab (Anna)"},
      {"  ab (Anna)  ", "Anna <ab>", "ab (Anna)"},
      // Text behind the ">" stays with the address.
      {"Anna <ab> x", "Anna <ab x>", "ab x (Anna)"},
      {"Anna < ab>", "Anna <ab>", "ab (Anna)"},
      // Only the one separator before "<" goes; the name-first form keeps the rest.
      {"Anna  <ab>", "Anna  <ab>", "ab (Anna)"},
      {"Anna\t<ab>", "Anna <ab>", "ab (Anna)"},
      // A name without separator, a comment without parentheses: no letter is lost.
      {"Anna<ab>", "Anna <ab>", "ab (Anna)"},
      {"ab Anna", "Anna <ab>", "ab (Anna)"},
      {"ab  (Anna)", "Anna <ab>", "ab (Anna)"},
      // A comment keeps its own unbalanced parenthesis in the address-first form.
      {"ab (Anna", "Anna <ab>", "ab (Anna"},
      // A tab is no blank: it is part of the address.
      {"\tab\t", "<\tab\t>", "\tab\t"},
      {"A\0B\xFF <a\0b>"s, "A\0B\xFF <a\0b>"s, "a\0b (A\0B\xFF)"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("value '" + c.value + "'");
    EXPECT_EQ(FormatNameAddr(c.value), c.name_addr);
    EXPECT_EQ(FormatAddrComment(c.value), c.addr_comment);
  }
}

TEST(AddressFormsTest, AngleAddressIsCutTo255Characters) {
  const std::string long_address(300, 'a');
  const std::string cut(255, 'a');
  EXPECT_EQ(FormatNameAddr("Anna <" + long_address + ">"), "Anna <" + cut + ">");
  EXPECT_EQ(FormatAddrComment("Anna <" + long_address + ">"), cut + " (Anna)");
  // Exactly 255 characters and the ">" behind them.
  EXPECT_EQ(FormatAddrComment("<" + cut + ">"), cut);
}

TEST(AddressFormsTest, HugeValuesStayLinear) {
  const std::string name(100000, '"');
  const std::string value = name + "x <" + std::string(100000, '>') + ">";
  EXPECT_EQ(FormatNameAddr(value), "x <>");
  EXPECT_EQ(FormatAddrComment(value), " (x)");
  const std::string comment(100000, ')');
  EXPECT_EQ(FormatNameAddr("ab (" + comment), " <ab>");
}

}  // namespace
}  // namespace postil
