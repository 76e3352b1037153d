#include <windows.h>
#include <mmsystem.h>

#include <string>

#include "platform/files.h"
#include "platform/sound.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {

void Beep() {
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) ::MessageBeep(MB_OK);
}

void PlaySoundFile(std::string_view path) {
  const std::string file = NativePath(path);
  if (!FileExists(file)) return;
  // Asynchronous: the sound plays on while the caller goes on.
  ::PlaySoundW(WideText(file).c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

}  // namespace postil::platform
