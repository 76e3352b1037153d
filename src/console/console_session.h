// The console for one run: the host's screen saved and restored, the window
// title, and the status screen thread that draws the panel and reads the
// keys. Created by main before anything else; SaveScreen, RestoreScreen,
// SetTitle and DiscardKeys are main's, StatusScreenThread is thread 0's, and
// the two never overlap (the thread runs between the save and the restore).
#pragma once

#include <memory>
#include <string_view>

#include "console/console_device.h"
#include "console/screen.h"

namespace postil {

struct Config;
struct RunState;

class ConsoleSession {
 public:
  // On the process's console (a cell console, else the terminal).
  explicit ConsoleSession(RunState& state);
  // On the given console (tests, benchmarks).
  ConsoleSession(RunState& state, std::unique_ptr<ConsoleDevice> device);
  // Restores every screen still saved, so the terminal is put back on every
  // way out.
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  void DiscardKeys() { device_->DiscardKeys(); }
  void SetTitle(std::string_view title) { device_->SetTitle(title); }
  void SaveScreen() { screen_.SaveScreen(); }
  void RestoreScreen() { screen_.RestoreScreen(); }

  // Body of the status screen thread: draws the panel every 5 ms and acts on
  // the keys until main sets ScreenStopRequest, then acknowledges with
  // ScreenStopped. A failure in a cycle is logged as "Runtime Error" with
  // its number in the next one (the error code of a system error, 7 for
  // exhausted memory, 5 for anything else) and the cycles go on.
  void StatusScreenThread(const Config& config);

  ConsoleDevice& device() { return *device_; }

 private:
  RunState& state_;
  std::unique_ptr<ConsoleDevice> device_;
  Screen screen_;
};

}  // namespace postil
