// The console for one run: the host's screen saved and restored, the status
// panel drawn and the keys read by the status screen thread. Created by main;
// SaveScreen/RestoreScreen are main's, StatusScreenThread is thread 0's.
#pragma once

#include <memory>
#include <string_view>

namespace postil {

struct Config;
struct RunState;

class ConsoleSession {
 public:
  explicit ConsoleSession(RunState& state);
  // Puts the terminal back as it was, on every way out.
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  void DiscardKeys();
  void SetTitle(std::string_view title);
  void SaveScreen();
  void RestoreScreen();
  // Body of the status screen thread: draws and reads keys until main sets
  // ScreenStopRequest, then acknowledges with ScreenStopped.
  void StatusScreenThread(const Config& config);

 private:
  RunState& state_;
};

}  // namespace postil
