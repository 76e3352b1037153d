#include "pop3/header_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

TEST(HeaderCaptureTest, FieldsByTheirUpperCasedStart) {
  const struct {
    const char* line;
    bool use_envelope;
    HeaderField field;
    std::string CapturedHeader::*value;
    const char* expected;
  } cases[] = {
      {"To:   me@x  ", false, HeaderField::kTo, &CapturedHeader::to, "me@x"},
      {"tO: me@x", false, HeaderField::kTo, &CapturedHeader::to, "me@x"},
      {"From: Anna <a@x> ", false, HeaderField::kFrom, &CapturedHeader::from, "Anna <a@x>"},
      {"SUBJECT:  two blanks  ", false, HeaderField::kSubject, &CapturedHeader::subject,
       " two blanks  "},
      {"Envelope-To:  box@x ", true, HeaderField::kEnvelopeTo, &CapturedHeader::envelope_to,
       "box@x"},
      {"Message-ID:   <1@x>  ", false, HeaderField::kMessageId, &CapturedHeader::message_id,
       "<1@x>  "},
      {"message-id: <2@x>", false, HeaderField::kMessageId, &CapturedHeader::message_id, "<2@x>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CapturedHeader header;
    EXPECT_EQ(CaptureHeaderLine(c.line, c.use_envelope, &header), c.field);
    EXPECT_EQ(header.*c.value, c.expected);
  }
}

TEST(HeaderCaptureTest, LinesThatCaptureNothing) {
  const char* lines[] = {
      "To:user",           // no blank after the colon
      "Envelope-To: b@x",  // without use-envelope
      "X-To: a@x",         // the name must start the line
      " From: a@x",       "Message-ID:<1@x>", "",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    CapturedHeader header;
    EXPECT_EQ(CaptureHeaderLine(line, false, &header), HeaderField::kNone);
    EXPECT_TRUE(header.to.empty() && header.envelope_to.empty() && header.from.empty() &&
                header.message_id.empty());
  }
}

TEST(HeaderCaptureTest, LaterLineOverwritesAndEncodedWordsAreDecoded) {
  CapturedHeader header;
  CaptureHeaderLine("Subject: first", false, &header);
  CaptureHeaderLine("Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=", false, &header);
  EXPECT_NE(header.subject, "first");
  EXPECT_EQ(header.subject.find("=?"), std::string::npos);
}

TEST(HeaderCaptureTest, SecurityRuleMatchesXQvModeInAnyCase) {
  EXPECT_TRUE(IsSecurityViolation("X-QV-Mode: TopOfMail"));
  EXPECT_TRUE(IsSecurityViolation("x-qv-mode:Message-ID Request"));
  EXPECT_TRUE(IsSecurityViolation("X-QV-MODEX"));
  EXPECT_FALSE(IsSecurityViolation(" X-QV-Mode: TopOfMail"));
  EXPECT_FALSE(IsSecurityViolation("X-QV-Mod"));
}

}  // namespace
}  // namespace postil
