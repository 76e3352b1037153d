#include "pop3/spool_layout.h"

#include <gtest/gtest.h>

#include "support/fixed_clock.h"

namespace postil {
namespace {

TEST(SpoolLayoutTest, ReceivedLineHasAFixedZoneText) {
  platform::LocalTime now = test::SampleTime();
  now.utc_offset_minutes = 60;
  EXPECT_EQ(MakeReceivedLine("pop.example.org", now),
            "Received: from pop.example.org by localhost (QUIL v1.99g) with POP3;\n"
            "\tSun, 06 Dec 2026 09:05:07 +0000 (MET)");
}

TEST(SpoolLayoutTest, PreambleWithAndWithoutTheRequestLine) {
  const std::string common =
      "HELO pop\nRCPT TO:<me@x>\nDATA\nReceived: from pop by localhost (QUIL v1.99g) with POP3;\n"
      "\tSun, 06 Dec 2026 09:05:07 +0000 (MET)\n";
  EXPECT_EQ(SpoolPreamble("pop", "me@x", test::SampleTime(), false), common);
  EXPECT_EQ(SpoolPreamble("pop", "me@x", test::SampleTime(), true),
            common + "X-QV-Mode: Message-ID Request\n");
}

TEST(SpoolLayoutTest, StubTextDropsTheLastLfOfTheHeader) {
  EXPECT_EQ(
      StubText(kTooLongSummary, 5000001, "From: a\n\n"),
      "X-QV-Mode: TopOfMail\nSummary: Message too long, ignored (Original Size: 5000001 Byte)\n"
      "From: a\n");
  EXPECT_EQ(StubText(kFilteredSummary, 0, ""),
            "X-QV-Mode: TopOfMail\nSummary: Message filtered (Original Size: 0 Byte)\n");
}

}  // namespace
}  // namespace postil
