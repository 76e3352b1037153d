#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iostream>

#include "platform/terminal.h"

namespace postil::platform {
namespace {

constexpr char kEsc = '\x1b';
constexpr char kCtrlA = '\x01';
constexpr char kCtrlB = '\x02';
constexpr char kCtrlC = '\x03';

// The console control handler runs on a thread of its own; it only sets
// this flag.
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

// The bytes the keys of the screen are read as (Esc, Alt+X as Esc x, Ctrl+A,
// Ctrl+B); Ctrl+C counts as an interrupt. Any other key gives its character.
std::size_t KeyBytes(const KEY_EVENT_RECORD& key, char* out, bool* interrupt) {
  if (!key.bKeyDown) return 0;
  const char c = key.uChar.AsciiChar;
  const bool alt = (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
  if (alt && (key.wVirtualKeyCode == 'X')) {
    out[0] = kEsc;
    out[1] = 'x';
    return 2;
  }
  if (key.wVirtualKeyCode == VK_ESCAPE) {
    out[0] = kEsc;
    return 1;
  }
  if (c == kCtrlC) {
    *interrupt = true;
    return 0;
  }
  if (c == kCtrlA || c == kCtrlB || (c != '\0' && c != kEsc)) {
    out[0] = c;
    return 1;
  }
  return 0;
}

class Win32Console final : public TerminalIo {
 public:
  Win32Console()
      : output_(::GetStdHandle(STD_OUTPUT_HANDLE)),
        input_(::GetStdHandle(STD_INPUT_HANDLE)),
        output_console_(::GetConsoleMode(output_, &saved_output_mode_) != 0),
        input_console_(::GetConsoleMode(input_, &saved_input_mode_) != 0) {}
  ~Win32Console() override { EndSession(); }

  bool OutputIsTerminal() const override { return output_console_; }

  std::optional<TerminalSize> Size() const override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!output_console_ || !::GetConsoleScreenBufferInfo(output_, &info)) return std::nullopt;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (rows <= 0 || columns <= 0) return std::nullopt;
    return TerminalSize{rows, columns};
  }

  void BeginSession(std::string_view) override {
    if (in_session_) return;
    std::cout.flush();
    std::fflush(stdout);
    g_interrupt = false;
    resize_ = false;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (output_console_) {
      // The screen is drawn with the same escape sequences and UTF-8 text
      // as on a terminal.
      saved_code_page_ = ::GetConsoleOutputCP();
      ::SetConsoleOutputCP(CP_UTF8);
      ::SetConsoleMode(output_, saved_output_mode_ | ENABLE_PROCESSED_OUTPUT |
                                    ENABLE_VIRTUAL_TERMINAL_PROCESSING);
      if (input_console_) {
        raw_input_ = ::SetConsoleMode(input_, ENABLE_WINDOW_INPUT) != 0;
      }
    }
    in_session_ = true;
  }

  void EndSession() override {
    if (!in_session_) return;
    if (output_console_) {
      ::SetConsoleMode(output_, saved_output_mode_);
      if (saved_code_page_ != 0) ::SetConsoleOutputCP(saved_code_page_);
    }
    if (raw_input_) ::SetConsoleMode(input_, saved_input_mode_);
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    raw_input_ = false;
    in_session_ = false;
  }

  void Write(std::string_view bytes) override {
    if (!output_console_) return;
    while (!bytes.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 16));
      if (!::WriteFile(output_, bytes.data(), chunk, &written, nullptr) || written == 0) return;
      bytes.remove_prefix(written);
    }
  }

  std::size_t ReadInput(char* buffer, std::size_t size) override {
    std::size_t used = 0;
    while (raw_input_ && size - used >= 2) {
      DWORD waiting = 0;
      if (!::GetNumberOfConsoleInputEvents(input_, &waiting) || waiting == 0) break;
      INPUT_RECORD record{};
      DWORD read = 0;
      if (!::ReadConsoleInputA(input_, &record, 1, &read) || read == 0) break;
      if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) resize_ = true;
      if (record.EventType != KEY_EVENT) continue;
      bool interrupt = false;
      used += KeyBytes(record.Event.KeyEvent, buffer + used, &interrupt);
      if (interrupt) g_interrupt = true;
    }
    return used;
  }

  void DiscardInput() override {
    if (input_console_) ::FlushConsoleInputBuffer(input_);
  }

  bool TakeInterrupt() override { return g_interrupt.exchange(false); }
  bool TakeResize() override { return resize_.exchange(false); }

 private:
  const HANDLE output_;
  const HANDLE input_;
  DWORD saved_output_mode_ = 0;
  DWORD saved_input_mode_ = 0;
  const bool output_console_;
  const bool input_console_;
  UINT saved_code_page_ = 0;
  bool in_session_ = false;
  bool raw_input_ = false;
  std::atomic<bool> resize_{false};
};

}  // namespace

std::unique_ptr<TerminalIo> OpenProcessTerminal() { return std::make_unique<Win32Console>(); }

}  // namespace postil::platform
