#include "text/text_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

using namespace std::string_literals;

TEST(TextHelpersTest, TrimsSpacesOnlyAtEitherEnd) {
  struct Case {
    std::string text;
    std::string both;
    std::string leading;
  };
  const Case cases[] = {
      {"", "", ""},
      {" ", "", ""},
      {"    ", "", ""},
      {"a", "a", "a"},
      {"  a  ", "a", "a  "},
      {" a  b ", "a  b", "a  b "},
      // Only the space is a blank: TAB, CR and NUL are text.
      {"\ta\t", "\ta\t", "\ta\t"},
      {" \t a \t ", "\t a \t", "\t a \t "},
      {"a \r", "a \r", "a \r"},
      {" \0 "s, "\0"s, "\0 "s},
      {" \xFF\xA0 ", "\xFF\xA0", "\xFF\xA0 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.text + "]");
    EXPECT_EQ(TrimBlanks(c.text), c.both);
    EXPECT_EQ(TrimLeadingBlanks(c.text), c.leading);
  }
}

TEST(TextHelpersTest, WithoutDropsEveryCopyOfOneCharacter) {
  EXPECT_EQ(Without("a\r\nb\r\r", '\r'), "a\nb");
  EXPECT_EQ(Without("POSTIL ", ' '), "POSTIL");
  EXPECT_EQ(Without("\"Anna \"Berg\"", '"'), "Anna Berg");
  EXPECT_EQ(Without("abc", 'x'), "abc");
  EXPECT_EQ(Without("", 'x'), "");
  EXPECT_EQ(Without("a\0b"s, '\0'), "ab");
}

TEST(TextHelpersTest, ControlBytesAreC0AndDelete) {
  std::string controls;
  for (int byte = 0; byte < 256; ++byte) {
    if (IsControlByte(static_cast<unsigned char>(byte))) controls += static_cast<char>(byte);
  }
  std::string expected;
  for (int byte = 0; byte < 0x20; ++byte) expected += static_cast<char>(byte);
  expected += '\x7F';
  EXPECT_EQ(controls, expected);
}

}  // namespace
}  // namespace postil
