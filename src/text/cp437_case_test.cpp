#include "text/cp437_case.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace postil {
namespace {

TEST(Cp437CaseTest, FoldsLettersAndTheSevenAccentedPairs) {
  struct Pair {
    unsigned char small, capital;
  };
  const Pair pairs[] = {{0x84, 0x8E}, {0x94, 0x99}, {0x81, 0x9A}, {0x82, 0x90},
                        {0xA4, 0xA5}, {0x86, 0x8F}, {0x87, 0x80}};
  std::set<unsigned char> folding;
  for (char c = 'a'; c <= 'z'; ++c) {
    EXPECT_EQ(UpperCaseChar(c), c - 'a' + 'A');
    EXPECT_EQ(LowerCaseChar(static_cast<char>(c - 'a' + 'A')), c);
    folding.insert(static_cast<unsigned char>(c));
    folding.insert(static_cast<unsigned char>(c - 'a' + 'A'));
  }
  for (Pair p : pairs) {
    SCOPED_TRACE(static_cast<int>(p.small));
    EXPECT_EQ(UpperCaseChar(static_cast<char>(p.small)), static_cast<char>(p.capital));
    EXPECT_EQ(LowerCaseChar(static_cast<char>(p.capital)), static_cast<char>(p.small));
    EXPECT_EQ(UpperCaseChar(static_cast<char>(p.capital)), static_cast<char>(p.capital));
    EXPECT_EQ(LowerCaseChar(static_cast<char>(p.small)), static_cast<char>(p.small));
    folding.insert(p.small);
    folding.insert(p.capital);
  }
  // Everything else, sharp s 0xE1 and the other accented letters among it, stays.
  for (int byte = 0; byte < 256; ++byte) {
    if (folding.count(static_cast<unsigned char>(byte))) continue;
    SCOPED_TRACE(byte);
    EXPECT_EQ(UpperCaseChar(static_cast<char>(byte)), static_cast<char>(byte));
    EXPECT_EQ(LowerCaseChar(static_cast<char>(byte)), static_cast<char>(byte));
  }
}

TEST(Cp437CaseTest, WholeTexts) {
  EXPECT_EQ(UpperCase("Gr\x81\xE1" "e, \x87" "a \x83 1"), "GR\x9A\xE1" "E, \x80" "A \x83 1");
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(UpperCase(with_nul), std::string("A\0B", 3));
  EXPECT_EQ(LowerCase("GR\x9A\xE1" "E \x90"), "gr\x81\xE1" "e \x82");
}

}  // namespace
}  // namespace postil
