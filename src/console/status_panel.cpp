#include "console/status_panel.h"

#include <array>
#include <string>

#include "config/config.h"
#include "console/panel_texts.h"
#include "core/run_state.h"

namespace postil {
namespace {

constexpr int kSmallConsoleRows = 50;
constexpr int kTopOnLargeConsole = 6;
constexpr int kServerWidth = 41;
constexpr int kRateWidth = 27;
constexpr int kFieldColumn = 21;
constexpr int kMarkColumn = 72;
constexpr int kSwitchColumn = 25;
constexpr int kSecondSwitchColumn = 44;
constexpr int kRateColumn = 47;
constexpr int kKillColumn = 60;
constexpr int kMailColumn = 68;
constexpr int kTitleColumn = 8;
constexpr int kClockColumn = 66;
constexpr int kKillAttribute = 0xC1;
constexpr int kMailAttribute = 0xE1;

constexpr std::string_view kReceiveProgressTag = "%RcvdBytes%";
constexpr std::string_view kSendProgressTag = "%SendBytes%";

// Static rows below the title, from row T+2.
constexpr std::string_view kSeparator =
    "\xC3\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"
    "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"
    "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"
    "\xB4";
constexpr std::string_view kPop3ServerRow =
    "\xB3 Pop3-Server:                                          Connect: [ ] \xB3";
constexpr std::string_view kSentRcvdRow =
    "\xB3 Sent/Rcvd  :                                          Errors : [ ] \xB3";
constexpr std::string_view kInformationRow =
    "\xB3 Information:                                                       \xB3";
constexpr std::string_view kSmtpServerRow =
    "\xB3 Smtp-Server:                                          Connect: [ ] \xB3";
constexpr std::string_view kSwitchRow =
    "\xB3 Smtp after Pop: [ ]  Batched Smtp: [ ]              [Kill]  [Mail] \xB3";
constexpr std::string_view kKeepRow =
    "\xB3 Keep on Server: [ ]  Mail Filter : [ ]                             \xB3";

constexpr std::array<std::string_view, 11> kStaticRows = {
    kSeparator,   kPop3ServerRow,  kSentRcvdRow, kInformationRow, kSeparator, kSmtpServerRow,
    kSentRcvdRow, kInformationRow, kSeparator,   kSwitchRow,      kKeepRow,
};

constexpr bool AllPanelWide() {
  for (std::string_view row : kStaticRows) {
    if (row.size() != 70) return false;
  }
  return true;
}
static_assert(AllPanelWide(), "every static row spans the panel");

std::string Fitted(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// A sent/received field whose text begins with its progress tag shows the
// progress figure in its place.
template <typename Field, typename Progress>
std::string ShownField(const Field& field, std::string_view progress_tag, Progress progress) {
  std::string text = field.Get();
  if (text.starts_with(progress_tag)) return Fitted(progress(), Field::kWidth);
  return text;
}

struct KillKey {
  Key key;
  bool pop3;
  bool smtp;
  std::string_view log_line;
};

constexpr KillKey kKillKeys[] = {
    {Key::kAltX, true, true, "All Threads killed by User"},
    {Key::kCtrlA, true, false, "Pop3-Thread killed by User"},
    {Key::kCtrlB, false, true, "Smtp-Thread killed by User"},
};

}  // namespace

int PanelTopRow(int console_rows) {
  return console_rows > kSmallConsoleRows ? kTopOnLargeConsole : console_rows / 2 - 6;
}

StatusPanel::StatusPanel(RunState& state, const Config& config, Screen& screen,
                         const ScreenColours& colours, int top_row, double online_start)
    : state_(state),
      config_(config),
      screen_(screen),
      colours_(colours),
      top_(top_row),
      online_start_(online_start) {}

void StatusPanel::DrawFrame() {
  screen_.BeginDraw();
  screen_.DrawBox(top_, kLeftColumn, kRows, kColumns, colours_.frame);
  for (std::size_t i = 0; i < kStaticRows.size(); ++i)
    screen_.PrintAt(top_ + 2 + static_cast<int>(i), kLeftColumn, kStaticRows[i], colours_.frame);
  screen_.EndDraw();

  screen_.BeginDraw();
  screen_.PrintAt(
      top_ + 1, kTitleColumn,
      "POSTIL - QUIL " + std::string(ProgramVersion) + "      (PreView Release for QV2)",
      colours_.title);
  screen_.PrintAt(top_ + 1, kClockColumn, "00:00:00", colours_.value);
  screen_.EndDraw();
}

void StatusPanel::DrawValues() {
  const double now = state_.clock.Now().SecondsSinceMidnight();
  screen_.BeginDraw();
  Value(1, kClockColumn, OnlineClockText(online_start_, now));
  Value(12, kRateColumn,
        TransferRateText(state_.TotalBytes, state_.ScreenStartTime, now).substr(0, kRateWidth));
  DrawPop3Values();
  DrawSmtpValues();
  Mark(11, kSecondSwitchColumn, state_.BatchedMode);
  Mark(12, kSecondSwitchColumn, config_.FilterActive);
  screen_.EndDraw();
}

void StatusPanel::DrawPop3Values() {
  DrawWorkerRows(3, state_.Pop3Connected, state_.Pop3ErrorFlag,
                 ServerFieldText(state_.Pop3ServerName.Get(), state_.Pop3Socket.Secured(), kServerWidth));
  if (state_.MailMark) screen_.PrintAt(top_ + 11, kMailColumn, "[Mail]", kMailAttribute);
  if (state_.KillCount > 0) screen_.PrintAt(top_ + 11, kKillColumn, "[Kill]", kKillAttribute);
  Mark(12, kSwitchColumn, state_.KeepOnServerMark);
  Value(4, kFieldColumn, ShownField(state_.Pop3SentRcvdField, kReceiveProgressTag, [&] {
          return ReceiveProgressText(state_.MessageBytesReceived, state_.MessageSize,
                                     state_.MailboxSize);
        }));
  Value(5, kFieldColumn, state_.Pop3InfoField.Get());
}

void StatusPanel::DrawSmtpValues() {
  DrawWorkerRows(7, state_.SmtpConnected, state_.SmtpErrorFlag,
                 ServerFieldText(state_.SmtpServerName.Get(), state_.SmtpSocket.Secured(), kServerWidth));
  Mark(11, kSwitchColumn, config_.SmtpAfterPop);
  Value(8, kFieldColumn, ShownField(state_.SmtpSentRcvdField, kSendProgressTag, [&] {
          return SendProgressText(state_.SentBytes, state_.SpoolFileSize);
        }));
  Value(9, kFieldColumn, state_.SmtpInfoField.Get());
}

// The marks beside a worker's server and sent/received rows, and its server
// field.
void StatusPanel::DrawWorkerRows(int row_offset, bool connected, bool error,
                                 const std::string& server) {
  Mark(row_offset, kMarkColumn, connected);
  Mark(row_offset + 1, kMarkColumn, error);
  Value(row_offset, kFieldColumn, server);
}

void StatusPanel::Mark(int row_offset, int column, bool on) {
  Value(row_offset, column, on ? "x" : " ");
}

void StatusPanel::Value(int row_offset, int column, std::string_view text) {
  screen_.PrintAt(top_ + row_offset, column, text, colours_.value);
}

void ActOnKey(RunState& state, Key key) {
  if (key == Key::kEscape) {
    state.ExitRequested = true;
    return;
  }
  for (const KillKey& kill : kKillKeys) {
    if (kill.key != key) continue;
    state.log.For(LogThread::kScreen).Write(LogLevel::kFailure, kill.log_line);
    if (kill.pop3) state.Pop3Socket.Abort();
    if (kill.smtp) state.SmtpSocket.Abort();
  }
}

}  // namespace postil
