// The status panel: a framed block of 14 rows by 70 columns showing both
// workers' servers, fields, marks and switches, the online clock and the
// transfer rate, drawn from the run state; and what the status screen's keys
// do. Drawn by the status screen thread alone.
#pragma once

#include <string>

#include "console/console_device.h"
#include "console/screen.h"
#include "console/screen_colours.h"

namespace postil {

struct Config;
struct RunState;

// The panel's first row on a console of `console_rows` rows.
int PanelTopRow(int console_rows);

class StatusPanel {
 public:
  static constexpr int kRows = 14;
  static constexpr int kColumns = 70;
  static constexpr int kLeftColumn = 6;

  // `online_start` is when the connection came up, in seconds since midnight.
  StatusPanel(RunState& state, const Config& config, Screen& screen, const ScreenColours& colours,
              int top_row, double online_start);

  // The frame and the static texts, then the title and a zero clock.
  void DrawFrame();
  // Every live value, in one off-screen group.
  void DrawValues();

 private:
  void DrawPop3Values();
  void DrawSmtpValues();
  void DrawWorkerRows(int row_offset, bool connected, bool error, const std::string& server);
  void Mark(int row_offset, int column, bool on);
  void Value(int row_offset, int column, std::string_view text);

  RunState& state_;
  const Config& config_;
  Screen& screen_;
  const ScreenColours colours_;
  const int top_;
  const double online_start_;
};

// Esc asks the workers to stop; Alt+X, Ctrl+A and Ctrl+B cut the current
// connection of both workers, the POP3 worker or the SMTP worker, with a log
// line each.
void ActOnKey(RunState& state, Key key);

}  // namespace postil
