#include "pop3/pop3_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

TEST(Pop3ReplyTest, SuccessIsTheLeadingOkOnly) {
  const struct {
    const char* reply;
    bool ok;
  } cases[] = {
      {"+OK", true},   {"+OK 3 100", true}, {"+OKAY", true}, {"+ok", false},
      {" +OK", false}, {"-ERR", false},     {"", false},     {"+O", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(IsOkReply(c.reply), c.ok);
  }
}

TEST(Pop3ReplyTest, StatCountAndSizeFromWordsTwoAndThree) {
  const struct {
    const char* reply;
    bool fits;
    std::int64_t count, size;
  } cases[] = {
      {"+OK 3 12345", true, 3, 12345},
      {"+OK 0 0", true, 0, 0},
      {"+OK 2.6 99.4", true, 3, 99},   // the numeric rule rounds
      {"+OK  3 12345", true, 0, 3},    // two blanks make an empty word 2
      {"+OK many bytes", true, 0, 0},  // words that are no numbers
      {"+OK -7 -1", true, 0, 0},       // negative values
      {"+OK", true, 0, 0},
      {"+OK 7 5000000000", true, 7, 5000000000},  // a big mailbox is fine
      {"+OK 12abc 7", true, 12, 7},
      {"+OK 2147483647 1", true, 2147483647, 1},  // the largest 32-bit count
      {"+OK 2147483648 10", false, 0, 0},         // one past it
      {"+OK 5000000000 5000000000", false, 0, 0},
      {"+OK 1 99999999999999999999", false, 0, 0},  // a size past any disk
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    std::optional<MailboxStatus> status = ParseStatReply(c.reply);
    ASSERT_EQ(status.has_value(), c.fits);
    if (!status) continue;
    EXPECT_EQ(status->count, c.count);
    EXPECT_EQ(status->size, c.size);
  }
}

TEST(Pop3ReplyTest, TopSizeIsWordTwoOrZero) {
  const struct {
    const char* reply;
    std::int64_t size;
  } cases[] = {
      {"+OK 5000001 octets", 5000001},    {"+OK", 0},
      {"+OK top of message follows", 0},  {"+OK -5 octets", 0},
      {"+OK 99999999999999999999999", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(ParseTopSize(c.reply), c.size);
  }
}

TEST(Pop3ReplyTest, NumbersAndTexts) {
  EXPECT_EQ(Str(5), " 5");
  EXPECT_EQ(Str(0), " 0");
  EXPECT_EQ(Str(-5), "-5");
  EXPECT_EQ("TOP" + Str(5) + " 0", "TOP 5 0");
  EXPECT_EQ(MailboxStatusText({3, 12345}), "3 Messages with 12345 (Bytes)");
  EXPECT_EQ(MailboxStatusText({0, 0}), "0 Messages with 0 (Bytes)");
  EXPECT_EQ(DetailBlock("Anna <a@b>", "Hi"),
            "\n\t\t\t\xC3 from: Anna <a@b>\n\t\t\t\xC0 Subject: Hi");
  EXPECT_EQ(DetailBlock("Anna <a@b>", "",
                        "r\xAF"
                        "DELE "),
            "\n\t\t\t\xC3 from: Anna <a@b>\n\t\t\t\xC3 Subject: \n\t\t\t\xC0 Reason: r\xAF"
            "DELE ");
}

}  // namespace
}  // namespace postil
