#include "console/panel_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace postil {
namespace {

TEST(PanelTexts, OnlineClock) {
  struct Case {
    double start;
    double now;
    const char* expected;
  };
  const Case cases[] = {
      {36000.0, 36000.0, "00:00:00"},
      {36000.5, 36001.2, "00:00:00"},
      {36000.5, 39661.5, "01:01:01"},
      {86390.0, 10.0, "00:00:20"},  // 23:59:50 to 00:00:10
      {0.0, 86399.9, "23:59:59"},
      {999999.0, 10.0, "00:00:00"},  // a dialer stamp that is no time of day
      {-1e9, 10.0, "99:59:59"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.now));
    EXPECT_EQ(OnlineClockText(c.start, c.now), c.expected);
  }
}

TEST(PanelTexts, TransferRate) {
  struct Case {
    std::uint64_t bytes;
    double start;
    double now;
    std::string expected;
  };
  const Case cases[] = {
      {0, 0.0, 100.0, std::string(27, ' ')},
      {5000, 0.0, 100.0, std::string(27, ' ')},
      {12345678, 1000.0, 1100.0, "     12,345 kB / 123456 cps"},
      {5001, 1000.0, 1000.2, "            5 kB / 5001 cps"},   // at least one second
      {2000000, 86395.0, 5.0, "      2,000 kB / 200000 cps"},  // across midnight
      {1234567890123, 0.0, 1.0, "1,234,567,890 kB / 1234567890123 cps"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(TransferRateText(c.bytes, c.start, c.now), c.expected);
  }
}

TEST(PanelTexts, ProgressFigures) {
  EXPECT_EQ(ReceiveProgressText(1234, 5678, 91011), "1234 of 5678 (91011 Bytes)");
  EXPECT_EQ(ReceiveProgressText(0, 0, 0), "0 of 0 (0 Bytes)");
  EXPECT_EQ(SendProgressText(512, 2048), "512 of 2048 Bytes");
}

}  // namespace
}  // namespace postil

namespace postil {
namespace {

TEST(PanelTexts, ServerFieldMarksASecuredConnectionWithinItsWidth) {
  EXPECT_EQ(ServerFieldText("pop.example", false, 20), "pop.example         ");
  EXPECT_EQ(ServerFieldText("pop.example", true, 20), "pop.example [TLS]   ");
  EXPECT_EQ(ServerFieldText("a-very-long.server.example", true, 20), "a-very-long.se [TLS]");
  EXPECT_EQ(ServerFieldText("a-very-long.server.example", false, 20), "a-very-long.server.e");
}

}  // namespace
}  // namespace postil
