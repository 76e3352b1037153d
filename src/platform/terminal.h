// The process's terminal: whether standard output is one, its size, the
// session mode (raw non-blocking keyboard, interrupt signals noted instead of
// ending the process) and byte input and output. One terminal object per
// process, used by one thread at a time; only its signal handlers run
// elsewhere, and they touch nothing but the terminal mode and the restore
// bytes given to BeginSession.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace postil::platform {

struct TerminalSize {
  int rows = 0;
  int columns = 0;
};

class TerminalIo {
 public:
  virtual ~TerminalIo() = default;

  // Standard output is a terminal. When it is not, nothing may be written.
  virtual bool OutputIsTerminal() const = 0;
  // The terminal's size; nothing when unknown.
  virtual std::optional<TerminalSize> Size() const = 0;

  // From here on SIGINT, SIGTERM and SIGHUP are noted (TakeInterrupt)
  // instead of ending the process. With a terminal also: the keyboard is
  // raw and non-blocking without echo, SIGWINCH is noted (TakeResize), and a
  // fatal signal first writes `restore_bytes` and puts the terminal mode
  // back. Pending standard output is flushed first.
  virtual void BeginSession(std::string_view restore_bytes) = 0;
  // Puts the terminal mode and the signal handling back; idempotent. Writes
  // nothing: the caller writes its own closing bytes before.
  virtual void EndSession() = 0;

  // All of `bytes` to standard output (given up when the terminal is gone).
  virtual void Write(std::string_view bytes) = 0;
  // Keyboard bytes waiting, at most `size`; 0 when there are none or there
  // is no raw keyboard. Never waits.
  virtual std::size_t ReadInput(char* buffer, std::size_t size) = 0;
  // Drops keystrokes typed but not yet read.
  virtual void DiscardInput() = 0;

  // True once for any number of interrupt signals since the last call.
  virtual bool TakeInterrupt() = 0;
  // True once after the terminal changed its size.
  virtual bool TakeResize() = 0;
};

// The terminal of this process: standard input and output.
std::unique_ptr<TerminalIo> OpenProcessTerminal();

}  // namespace postil::platform
