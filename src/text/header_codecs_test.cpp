#include "text/header_codecs.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

using namespace std::string_literals;

struct Case {
  std::string input;
  std::string expected;
};

TEST(Base64EncodeTest, StandardAlphabetAndPadding) {
  const Case cases[] = {
      {"", ""},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {"abc", "YWJj"},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\0"s, "AA=="},
      {"\xFB\xFF", "+/8="},
      {"\xFF\xFF\xFF", "////"},
      // The AUTH PLAIN argument, with and without a password.
      {"\0user\0pass"s, "AHVzZXIAcGFzcw=="},
      {"\0user\0"s, "AHVzZXIA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(Base64Encode(c.input), c.expected);
  }
}

TEST(Base64EncodeTest, LongInputIsOneLine) {
  const std::string encoded = Base64Encode(std::string(100001, 'x'));
  EXPECT_EQ(encoded.size(), 133336u);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(encoded.substr(encoded.size() - 8), "eHh4eHg=");
}

TEST(DecodeHeaderWordTest, DecodesTheFirstEncodedWord) {
  const Case cases[] = {
      {"Re: =?ISO-8859-1?Q?Gr=FC=DFe_aus_Bonn?=", "Re: Gr\x81\xE1"
                                                  "e aus Bonn"},
      // The terminator is looked for behind the introducer only.
      {"=?ISO-8859-1?Q?=DCber?=", "\x9A"
                                  "ber"},
      {"a?= =?ISO-8859-1?Q?b?= c", "a?= b c"},
      {"x =?iso-8859-1?q?a_b?= y", "x a b y"},
      {"=?Iso-8859-1?q?a?=", "a"},
      {"=?ISO-8859-1?Q?a=5Fb?=", "a_b"},
      {"=?ISO-8859-1?Q?a_b?=", "a b"},
      {"=?ISO-8859-1?Q?=20=2C=2D=5F=B2=C4=DC=D6=DF=E4=F6=FC?=",
       " ,-_\xFD\x8E\x9A\x99\xE1\x84\x94\x81"},
      {"=?ISO-8859-1?Q?=5F_=5F?=", "_ _"},
      // Lower-case hex, escapes outside the table, invalid and cut escapes stay.
      {"=?ISO-8859-1?Q?=e4?=", "=e4"},
      {"=?ISO-8859-1?Q?caf=E9?=", "caf=E9"},
      {"=?ISO-8859-1?Q?=FD?=", "=FD"},
      {"=?ISO-8859-1?Q?=G4=?=", "=G4="},
      {"=?ISO-8859-1?Q?a=F?=", "a=F"},
      {"=?ISO-8859-1?Q?" "?=", ""},
      {"=?ISO-8859-1?Q?a_b?= =?ISO-8859-1?Q?c_d?=", "a b =?ISO-8859-1?Q?c_d?="},
      // Without a terminator the word runs to the end of the value.
      {"x =?ISO-8859-1?Q?a_b", "x a b"},
      {"=?ISO-8859-1?Q?a=", "a="},
      {"=?ISO-8859-1?Q?", ""},
      {"\0=?ISO-8859-1?Q?\xFF_\0?=\xFF"s, "\0\xFF \0\xFF"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("value '" + c.input + "'");
    EXPECT_EQ(DecodeHeaderWord(c.input), c.expected);
  }
}

TEST(DecodeHeaderWordTest, LeavesOtherValuesAlone) {
  const std::string values[] = {
      "", "plain text_with=FC", "=?UTF-8?Q?x?=", "=?ISO-8859-1?B?eA==?=",
      "=?ISO-8859-15?Q?x?=", "=?ISO-8859-1?Q", "\0\xFF=?\xFF"s,
  };
  for (const std::string& value : values) {
    SCOPED_TRACE("value '" + value + "'");
    EXPECT_EQ(DecodeHeaderWord(value), value);
  }
}

TEST(DecodeHeaderWordTest, HugeValuesStayLinear) {
  const std::string blanks(100000, '_');
  EXPECT_EQ(DecodeHeaderWord("=?ISO-8859-1?Q?" + blanks + "?=x"), std::string(100000, ' ') + "x");

  std::string fragments;
  for (int i = 0; i < 10000; ++i) fragments += "=?ISO-8859-1?";
  EXPECT_EQ(DecodeHeaderWord(fragments), fragments);
  const std::string unterminated = "=?ISO-8859-1?Q?" + std::string(100000, '=');
  EXPECT_EQ(DecodeHeaderWord(unterminated), std::string(100000, '='));
}

}  // namespace
}  // namespace postil
