#include "console/status_panel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "config/config.h"
#include "console/console_session.h"
#include "console/memory_console.h"
#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

// The panel's row texts as written down for people, with box characters in
// UTF-8, turned into code page 437.
std::string Cp437(std::string text) {
  const std::pair<std::string, char> box[] = {{"│", '\xB3'}, {"├", '\xC3'}, {"─", '\xC4'},
                                              {"┤", '\xB4'}, {"┌", '\xDA'}, {"┐", '\xBF'},
                                              {"└", '\xC0'}, {"┘", '\xD9'}};
  for (const auto& [utf8, byte] : box) {
    for (std::size_t at = text.find(utf8); at != std::string::npos; at = text.find(utf8, at))
      text.replace(at, utf8.size(), 1, byte);
  }
  return text;
}

std::string Repeat(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

class StatusPanelTest : public ::testing::Test {
 protected:
  static constexpr double kOnlineStart = 30000.0;  // 08:20:00

  StatusPanel Panel(ScreenColours colours = {}) {
    return StatusPanel(state_, config_, screen_, colours, PanelTopRow(console_.Rows()),
                       kOnlineStart);
  }
  // The panel's row `offset` as far as it goes (columns 6 to 75).
  std::string PanelRow(int offset) { return console_.Text(6 + offset, 6, 70); }

  test::FixedClock clock_{test::SampleTime()};  // 09:05:07
  RunState state_{clock_};
  Config config_;
  MemoryConsole console_{25, 80};
  Screen screen_{console_};
};

TEST(PanelTopRow, ByConsoleHeight) {
  const int cases[][2] = {{25, 6}, {43, 15}, {50, 19}, {51, 6}, {60, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    EXPECT_EQ(PanelTopRow(c[0]), c[1]);
  }
}

TEST_F(StatusPanelTest, FrameAndStaticRowsByteForByte) {
  Panel({0x1F, 0x1E, 0x1A}).DrawFrame();
  const std::string separator = Cp437("├" + Repeat("─", 68) + "┤");
  const std::string rows[14] = {
      Cp437("┌" + Repeat("─", 68) + "┐"),
      Cp437("│ POSTIL - QUIL v1.99g      (PreView Release for QV2)       00:00:00 │"),
      separator,
      Cp437("│ Pop3-Server:                                          Connect: [ ] │"),
      Cp437("│ Sent/Rcvd  :                                          Errors : [ ] │"),
      Cp437("│ Information:                                                       │"),
      separator,
      Cp437("│ Smtp-Server:                                          Connect: [ ] │"),
      Cp437("│ Sent/Rcvd  :                                          Errors : [ ] │"),
      Cp437("│ Information:                                                       │"),
      separator,
      Cp437("│ Smtp after Pop: [ ]  Batched Smtp: [ ]              [Kill]  [Mail] │"),
      Cp437("│ Keep on Server: [ ]  Mail Filter : [ ]                             │"),
      Cp437("└" + Repeat("─", 68) + "┘"),
  };
  for (int i = 0; i < 14; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(PanelRow(i), rows[i]);
  }
  EXPECT_EQ(console_.RowText(5), std::string(80, ' '));
  EXPECT_EQ(console_.RowText(20), std::string(80, ' '));
  EXPECT_EQ(console_.At(6, 6).attribute, 0x1F);
  EXPECT_EQ(console_.At(17, 60).attribute, 0x1F);  // "[Kill]" in the frame colour
  EXPECT_EQ(console_.At(7, 8).attribute, 0x1A);    // title
  EXPECT_EQ(console_.At(7, 66).attribute, 0x1E);   // clock
  EXPECT_EQ(console_.At(7, 7).attribute, 0x1F);
}

TEST_F(StatusPanelTest, LiveValuesInTheirPlaces) {
  config_.SmtpAfterPop = true;
  config_.FilterActive = true;
  state_.Pop3ServerName.Set("pop.example.org");
  state_.SmtpServerName.Set("a-very-long-smtp-server-name.example.org.invalid");
  state_.Pop3Connected = true;
  state_.SmtpErrorFlag = true;
  state_.KeepOnServerMark = true;
  state_.Pop3SentRcvdField.Set("12 Messages (34567 Bytes)");
  state_.Pop3InfoField.Set("Checking Message 3");
  state_.SmtpInfoField.Set("Sending M0001.OUT");
  state_.TotalBytes = 12345678;
  state_.ScreenStartTime = 32607.0;  // 100 s before the clock's 09:05:07
  StatusPanel panel = Panel();
  panel.DrawFrame();
  panel.DrawValues();

  EXPECT_EQ(console_.Text(7, 66, 8), "00:45:07");
  EXPECT_EQ(console_.Text(18, 47, 27), "     12,345 kB / 123456 cps");
  EXPECT_EQ(console_.Text(9, 21, 41), "pop.example.org" + std::string(26, ' '));
  EXPECT_EQ(console_.Text(13, 21, 41), "a-very-long-smtp-server-name.example.org.");
  EXPECT_EQ(console_.Text(13, 62, 8), "Connect:");
  EXPECT_EQ(console_.Text(10, 21, 40), "12 Messages (34567 Bytes)" + std::string(15, ' '));
  EXPECT_EQ(console_.Text(11, 21, 53), "Checking Message 3" + std::string(35, ' '));
  EXPECT_EQ(console_.Text(15, 21, 53), "Sending M0001.OUT" + std::string(36, ' '));
  const struct {
    int row, column;
    char mark;
  } marks[] = {{9, 72, 'x'},  {10, 72, ' '}, {13, 72, ' '}, {14, 72, 'x'},
               {17, 25, 'x'}, {17, 44, ' '}, {18, 25, 'x'}, {18, 44, 'x'}};
  for (const auto& m : marks) {
    SCOPED_TRACE(std::to_string(m.row) + "," + std::to_string(m.column));
    EXPECT_EQ(console_.At(m.row, m.column).character, m.mark);
    EXPECT_EQ(console_.At(m.row, m.column).attribute, 0x7F);
  }
  EXPECT_EQ(console_.At(17, 60).attribute, 0x70);  // no kill, no mail yet
  EXPECT_EQ(console_.At(17, 68).attribute, 0x70);

  state_.KillCount = 1;
  state_.MailMark = true;
  state_.Pop3Connected = false;
  panel.DrawValues();
  EXPECT_EQ(console_.Text(17, 60, 6), "[Kill]");
  EXPECT_EQ(console_.Text(17, 68, 6), "[Mail]");
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(console_.At(17, 60 + i).attribute, 0xC1);
    EXPECT_EQ(console_.At(17, 68 + i).attribute, 0xE1);
  }
  EXPECT_EQ(console_.At(9, 72).character, ' ');
  EXPECT_EQ(console_.At(9, 75).character, 0xB3);  // the frame stays whole

  // A secured connection is marked within the server field.
  state_.SmtpSocket.SetSecured(true);
  panel.DrawValues();
  EXPECT_EQ(console_.Text(9, 21, 41), "pop.example.org" + std::string(26, ' '));
  EXPECT_EQ(console_.Text(13, 21, 41), "a-very-long-smtp-server-name.exampl [TLS]");
  EXPECT_EQ(console_.Text(13, 62, 8), "Connect:");
}

TEST_F(StatusPanelTest, ProgressFieldsShowTheCounters) {
  state_.Pop3SentRcvdField.Set("%RcvdBytes%");
  state_.MessageBytesReceived = 1024;
  state_.MessageSize = 4096;
  state_.MailboxSize = 123456;
  state_.SmtpSentRcvdField.Set("%SendBytes% anything after the tag");
  state_.SentBytes = 77;
  state_.SpoolFileSize = 1500;
  StatusPanel panel = Panel();
  panel.DrawValues();
  EXPECT_EQ(console_.Text(10, 21, 40), "1024 of 4096 (123456 Bytes)" + std::string(13, ' '));
  EXPECT_EQ(console_.Text(14, 21, 40), "77 of 1500 Bytes" + std::string(24, ' '));

  state_.Pop3SentRcvdField.Set("%RcvdByte");  // not the whole tag: shown as it is
  panel.DrawValues();
  EXPECT_EQ(console_.Text(10, 21, 40), "%RcvdByte" + std::string(31, ' '));
}

// A connection whose aborts are counted.
class CountingConnection final : public Abortable {
 public:
  void Abort() override { ++aborts; }
  int aborts = 0;
};

class StatusThreadTest : public StatusPanelTest {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir_.path());
    dir_.EnableDebug();
    state_.log.SetupLog(std::nullopt);
  }
  std::vector<std::string> Log() {
    state_.log.CloseLogs();
    return test::LogLines(dir_.Read("QUIL.LOG"));
  }
  // Runs the status screen thread until `until` holds (at most 5 s), then
  // stops it by the handshake.
  template <typename Until>
  void RunThread(ConsoleSession& session, Until until) {
    std::thread screen([&] { session.StatusScreenThread(config_); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!until() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    state_.ScreenStopRequest = true;
    screen.join();
  }

  test::HostDir dir_;
};

TEST_F(StatusThreadTest, KeysAndTheStopHandshake) {
  auto device = std::make_unique<MemoryConsole>(25, 80);
  MemoryConsole& console = *device;
  for (Key key : {Key::kCtrlA, Key::kCtrlB, Key::kAltX, Key::kEscape}) console.PushKey(key);
  CountingConnection pop3;
  CountingConnection smtp;
  state_.Pop3Socket.Attach(&pop3);
  state_.SmtpSocket.Attach(&smtp);
  ConsoleSession session(state_, std::move(device));
  RunThread(session, [&] { return state_.ExitRequested.load(); });
  state_.Pop3Socket.Detach();
  state_.SmtpSocket.Detach();

  EXPECT_TRUE(state_.ScreenStopped);
  EXPECT_EQ(pop3.aborts, 2);
  EXPECT_EQ(smtp.aborts, 2);
  EXPECT_FALSE(console.Cursor().visible);
  EXPECT_EQ(console.Text(6, 6, 1), "\xDA");
  const std::vector<std::string> expected = {
      "  hh:mm:ss  POSTIL #0: Console Starting ...",
      "? hh:mm:ss  POSTIL #0: Pop3-Thread killed by User",
      "? hh:mm:ss  POSTIL #0: Smtp-Thread killed by User",
      "? hh:mm:ss  POSTIL #0: All Threads killed by User",
      "  hh:mm:ss  POSTIL #0: Console: Exit requested",
  };
  std::vector<std::string> lines = Log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), expected);
}

TEST_F(StatusThreadTest, KillKeyWithoutAConnectionOnlyLogs) {
  auto device = std::make_unique<MemoryConsole>(25, 80);
  device->PushKey(Key::kCtrlA);
  device->PushKey(Key::kEscape);
  ConsoleSession session(state_, std::move(device));
  RunThread(session, [&] { return state_.ExitRequested.load(); });
  std::vector<std::string> lines = Log();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "? hh:mm:ss  POSTIL #0: Pop3-Thread killed by User"),
      lines.end());
}

TEST_F(StatusThreadTest, FailedCycleIsReportedAndTheCyclesGoOn) {
  auto device = std::make_unique<MemoryConsole>(25, 80);
  MemoryConsole& console = *device;
  console.FailWrites(1, EIO);  // the frame
  state_.Pop3InfoField.Set("still drawn");
  ConsoleSession session(state_, std::move(device));
  // The console is only looked at once the thread has stopped.
  auto start = std::chrono::steady_clock::now();
  RunThread(session, [&] {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100);
  });
  EXPECT_EQ(console.Text(11, 21, 11), "still drawn");
  std::vector<std::string> lines = Log();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "! hh:mm:ss  POSTIL #0: Runtime Error " + std::to_string(EIO)),
            1);
  EXPECT_EQ(lines.back(), "  hh:mm:ss  POSTIL #0: Console: Exit requested");
}

TEST_F(StatusThreadTest, StopRequestedBeforeTheThreadRunsIsStillSeen) {
  ConsoleSession session(state_, std::make_unique<MemoryConsole>(25, 80));
  state_.ScreenStopRequest = true;
  std::thread screen([&] { session.StatusScreenThread(config_); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!state_.ScreenStopped && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(state_.ScreenStopped);
  state_.ScreenStopRequest = true;  // let a thread that reset the request end all the same
  screen.join();
}

}  // namespace
}  // namespace postil
