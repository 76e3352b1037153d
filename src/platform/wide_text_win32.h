// Shared by the Win32 implementations only (never included outside
// src/platform/): text of the program (code page 437 bytes) to and from the
// UTF-16 of the wide Win32 API. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil::platform {

std::wstring WideText(std::string_view text);
std::string NarrowText(std::wstring_view text);

// The text of a Win32 error code (GetLastError, WSAGetLastError), one line.
std::string Win32ErrorText(unsigned long code);

}  // namespace postil::platform
