#include "platform/wide_text_win32.h"

#include <windows.h>

namespace postil::platform {
namespace {

// Names and texts of the program are code page 437; a system without that
// code page still gets the ANSI one rather than nothing.
constexpr UINT kProgramCodePage = 437;

UINT UsableCodePage() {
  static const UINT code_page = ::IsValidCodePage(kProgramCodePage) ? kProgramCodePage : CP_ACP;
  return code_page;
}

}  // namespace

std::wstring WideText(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(UsableCodePage(), 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) ::MultiByteToWideChar(UsableCodePage(), 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string NarrowText(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(UsableCodePage(), 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    ::WideCharToMultiByte(UsableCodePage(), 0, text.data(), size, narrow.data(), length, nullptr,
                          nullptr);
  return narrow;
}

std::string Win32ErrorText(unsigned long code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace postil::platform
