#include "console/console_session.h"

#include "core/run_state.h"
#include "platform/clock.h"

namespace postil {

ConsoleSession::ConsoleSession(RunState& state) : state_(state) {}
ConsoleSession::~ConsoleSession() = default;
void ConsoleSession::DiscardKeys() {}
void ConsoleSession::SetTitle(std::string_view) {}
void ConsoleSession::SaveScreen() {}
void ConsoleSession::RestoreScreen() {}

void ConsoleSession::StatusScreenThread(const Config&) {
  state_.log.WriteLog("Console Starting ...", kScreenThread, 255);
  while (!state_.ScreenStopRequest) platform::SleepMilliseconds(5);
  state_.log.WriteLog("Console: Exit requested", kScreenThread, 255);
  state_.ScreenStopped = true;
}

}  // namespace postil
