#include "platform/console_interrupt_win32.h"

#include <windows.h>

#include <atomic>

namespace postil::platform {
namespace {

std::atomic<bool> g_interrupt{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_interrupt = true;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void HandleConsoleInterrupts(bool on) {
  if (on) g_interrupt = false;
  ::SetConsoleCtrlHandler(OnConsoleControl, on ? TRUE : FALSE);
}

void NoteConsoleInterrupt() { g_interrupt = true; }

bool TakeConsoleInterrupt() { return g_interrupt.exchange(false); }

}  // namespace postil::platform
