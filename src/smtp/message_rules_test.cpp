#include "smtp/message_rules.h"

#include <gtest/gtest.h>

#include "smtp/outgoing_spool.h"
#include "smtp/smtp_session.h"

namespace postil {
namespace {

TEST(GetEmailAdress, TakesTheBracketedOrTheSecondField) {
  struct Case {
    std::string line;
    std::string address;
  } cases[] = {
      {"From: Anna Berg <ab@example.org>", "ab@example.org"},
      {"From: ab@example.org (Anna Berg)", "ab@example.org"},
      {"From: <a b@example.org>", "ab@example.org"},  // blanks inside are dropped
      {"From: Anna <ab@example.org> trailing", "ab@example.orgtrailing"},
      {"From:ab@example.org", ""},  // no second field
      {"From: <" + std::string(300, 'x'), std::string(255, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(GetEmailAdress(c.line), c.address);
  }
}

TEST(ScanEnvelopeLine, LastFromAndToWinAndBracketsAreTaken) {
  struct Case {
    std::vector<std::string> lines;
    std::string redirect;
    std::string sender;
    std::string recipient;
  } cases[] = {
      {{"From x", "from: a@b (A)", "TO: c@d"}, "", "a@b", "c@d"},
      {{"From: a@b", "To: first@d", "Cc: e@f", "To: last@d"}, "", "a@b", "last@d"},
      // A display name would make an address no server takes.
      {{"From: a@b", "To: Bob B. <bob@d>"}, "", "a@b", "bob@d"},
      {{"From: a@b", "To: bob@d (Bob)"}, "", "a@b", "bob@d (Bob)"},
      {{"From: a@b", "To: c@d"}, "r@s", "r@s", "c@d"},
      {{"Subject: no envelope"}, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.back());
    NormalEnvelope envelope;
    for (const std::string& line : c.lines) ScanEnvelopeLine(line, c.redirect, &envelope);
    EXPECT_EQ(envelope.sender, c.sender);
    EXPECT_EQ(envelope.recipient, c.recipient);
  }
}

TEST(RewriteFromLine, ReplacesTheAddressInAnExactFromLineOnly) {
  struct Case {
    std::string line;
    std::string redirect;
    std::string result;
  } cases[] = {
      {"From: Anna <a@b>", "r@s", "From: Anna <r@s>"},
      {"From: a@b (Anna a@b)", "r@s", "From: r@s (Anna r@s)"},
      {"from: Anna <a@b>", "r@s", "from: Anna <a@b>"},  // case-sensitive
      {"From: Anna <a@b>", "", "From: Anna <a@b>"},
      {"From:", "r@s", "From:"},  // no address, nothing to replace
      {"From: <x>", "xx", "From: <xx>"},  // a redirect holding the address ends
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(RewriteFromLine(c.line, c.redirect), c.result);
  }
}

TEST(MessageRules, BodyLinesAndHeloDomain) {
  EXPECT_EQ(NormalBodyLine(".x"), "..x");
  EXPECT_EQ(NormalBodyLine("."), "..");
  EXPECT_EQ(NormalBodyLine("--"), "-- ");
  EXPECT_EQ(NormalBodyLine("-- "), "-- ");
  EXPECT_EQ(NormalBodyLine("---"), "---");
  EXPECT_EQ(SignatureRule(".."), "..");  // batched data is already stuffed
  EXPECT_EQ(HeloDomainOf("a@b.example"), "b.example");
  EXPECT_EQ(HeloDomainOf("local"), "me");
}

TEST(DecideSpoolFormat, ByTheFirstFourBytesInAnyCase) {
  struct Case {
    std::string bytes;
    SpoolFormat format;
  } cases[] = {
      {"HELO", SpoolFormat::kBatched}, {"helo x", SpoolFormat::kBatched},
      {"From ", SpoolFormat::kNormal}, {"FROM:", SpoolFormat::kNormal},
      {"Fro", SpoolFormat::kUnknown},  {"", SpoolFormat::kUnknown},
      {" HELO", SpoolFormat::kUnknown}, {std::string("\0\0\0\0", 4), SpoolFormat::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(DecideSpoolFormat(c.bytes), c.format);
  }
}

TEST(SmtpSessionWords, NoAuthenticationUsersAndOfferedMechanisms) {
  for (const char* user : {"", "nein", "Disabled", "N", "off", "false", "0"})
    EXPECT_TRUE(IsNoAuthenticationUser(user)) << user;
  for (const char* user : {"aus", "user", "no"}) EXPECT_FALSE(IsNoAuthenticationUser(user)) << user;
  EXPECT_EQ(OfferedMechanisms("250-AUTH LOGIN PLAIN"), "PLAIN LOGIN ");
  EXPECT_EQ(OfferedMechanisms("250 AUTH=LOGIN"), "LOGIN ");
  EXPECT_EQ(OfferedMechanisms("250-auth plain"), "");
}

}  // namespace
}  // namespace postil
