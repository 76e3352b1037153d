#include <windows.h>

#include <cstdio>
#include <iostream>

#include "platform/console_interrupt_win32.h"
#include "platform/terminal.h"

namespace postil::platform {
namespace {

// Standard output that is not a console (redirected): the console itself is
// drawn through CellConsole, so this terminal never draws and reads no keys;
// it only notes interrupts from a console the process may still have.
class RedirectedConsole final : public TerminalIo {
 public:
  RedirectedConsole() : input_(::GetStdHandle(STD_INPUT_HANDLE)) {}
  ~RedirectedConsole() override { EndSession(); }

  bool OutputIsTerminal() const override { return false; }
  std::optional<TerminalSize> Size() const override { return std::nullopt; }

  void BeginSession(std::string_view) override {
    if (in_session_) return;
    std::cout.flush();
    std::fflush(stdout);
    HandleConsoleInterrupts(true);
    in_session_ = true;
  }

  void EndSession() override {
    if (!in_session_) return;
    HandleConsoleInterrupts(false);
    in_session_ = false;
  }

  void Write(std::string_view) override {}
  std::size_t ReadInput(char*, std::size_t) override { return 0; }

  void DiscardInput() override {
    DWORD mode = 0;
    if (::GetConsoleMode(input_, &mode)) ::FlushConsoleInputBuffer(input_);
  }

  bool TakeInterrupt() override { return TakeConsoleInterrupt(); }
  bool TakeResize() override { return false; }

 private:
  const HANDLE input_;
  bool in_session_ = false;
};

}  // namespace

std::unique_ptr<TerminalIo> OpenProcessTerminal() { return std::make_unique<RedirectedConsole>(); }

}  // namespace postil::platform
