// Shared by the Win32 implementations only (never included outside
// src/platform/): Ctrl+C, Ctrl+Break and closing the console window noted
// as an interrupt instead of ending the process. The console calls the
// handler on a thread of its own; it only sets a flag. Any thread.
#pragma once

namespace postil::platform {

// Installs (true) or removes (false) the handler; the flag is cleared when
// it is installed.
void HandleConsoleInterrupts(bool on);
// Notes an interrupt seen another way (Ctrl+C read as a key).
void NoteConsoleInterrupt();
// True once for any number of interrupts since the last call.
bool TakeConsoleInterrupt();

}  // namespace postil::platform
