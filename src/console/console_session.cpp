#include "console/console_session.h"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "console/native_console.h"
#include "console/status_panel.h"
#include "console/terminal_console.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "platform/clock.h"
#include "platform/console_cells.h"
#include "platform/terminal.h"

namespace postil {
namespace {

constexpr int kCycleMs = 5;
constexpr int kOutOfMemoryNumber = 7;
constexpr int kOtherFailureNumber = 5;

constexpr int kNoFailure = 0;

// Runs one step of the status screen; a failure is kept for the next cycle
// to report instead of ending the thread.
template <typename Step>
void Attempt(int* failure, Step step) {
  try {
    step();
  } catch (const std::system_error& error) {
    *failure = error.code().value() != kNoFailure ? error.code().value() : kOtherFailureNumber;
  } catch (const std::bad_alloc&) {
    *failure = kOutOfMemoryNumber;
  } catch (...) {
    *failure = kOtherFailureNumber;
  }
}

// The process's console: its cells when the system has a cell console on
// standard output, else the terminal (which draws nothing when output is
// redirected).
std::unique_ptr<ConsoleDevice> OpenProcessConsole() {
  if (std::unique_ptr<platform::CellConsole> cells = platform::OpenProcessCellConsole()) {
    return std::make_unique<NativeConsole>(std::move(cells));
  }
  return std::make_unique<TerminalConsole>(platform::OpenProcessTerminal(),
                                           ProcessTerminalTraits());
}

}  // namespace

ConsoleSession::ConsoleSession(RunState& state) : ConsoleSession(state, OpenProcessConsole()) {}

ConsoleSession::ConsoleSession(RunState& state, std::unique_ptr<ConsoleDevice> device)
    : state_(state), device_(std::move(device)), screen_(*device_) {}

ConsoleSession::~ConsoleSession() {
  while (screen_.SavedDepth() > 0) screen_.RestoreScreen();
}

void ConsoleSession::StatusScreenThread(const Config& config) {
  const Logger log = state_.log.For(LogThread::kScreen);
  log.Write(LogLevel::kTrace, "Console Starting ...");
  int failure = kNoFailure;
  std::optional<StatusPanel> panel;
  Attempt(&failure, [&] {
    state_.ScreenStartTime = state_.clock.Now().SecondsSinceMidnight();
    double online_start = DialerOnlineSince(state_);
    CursorInfo cursor = device_->Cursor();
    cursor.visible = false;
    device_->SetCursor(cursor);
    // ScreenStopRequest is left alone: main may already have set it.
    state_.ScreenStopped = false;
    state_.ExitRequested = false;
    panel.emplace(state_, config, screen_, LoadScreenColours(state_), PanelTopRow(device_->Rows()),
                  online_start);
  });
  if (panel) Attempt(&failure, [&] { panel->DrawFrame(); });

  for (;;) {
    if (failure != kNoFailure) {
      log.Write(LogLevel::kDataError, "Runtime Error " + std::to_string(failure));
      failure = kNoFailure;
    }
    if (panel) Attempt(&failure, [&] { panel->DrawValues(); });
    if (state_.ScreenStopRequest) break;
    Attempt(&failure, [&] {
      if (std::optional<Key> key = device_->ReadKey()) ActOnKey(state_, *key);
    });
    platform::SleepMilliseconds(kCycleMs);
  }
  log.Write(LogLevel::kTrace, "Console: Exit requested");
  state_.ScreenStopped = true;
}

}  // namespace postil
