#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>

#include "platform/terminal.h"

namespace postil::platform {
namespace {

// Longest closing text a fatal signal writes (leave the alternate screen,
// show the cursor, reset colours and title: well under this).
constexpr std::size_t kRestoreLimit = 256;
// How long a write waits for a terminal that takes no output for a moment.
constexpr int kWriteWaitMs = 200;

enum class Reaction { kInterrupt, kResize, kFatal };

struct HandledSignal {
  int number;
  Reaction reaction;
  bool needs_terminal;  // only worth handling when the screen must be put back
};

constexpr HandledSignal kHandled[] = {
    {SIGINT, Reaction::kInterrupt, false}, {SIGTERM, Reaction::kInterrupt, false},
    {SIGHUP, Reaction::kInterrupt, false}, {SIGWINCH, Reaction::kResize, true},
    {SIGQUIT, Reaction::kFatal, true},     {SIGABRT, Reaction::kFatal, true},
    {SIGSEGV, Reaction::kFatal, true},     {SIGBUS, Reaction::kFatal, true},
    {SIGFPE, Reaction::kFatal, true},      {SIGILL, Reaction::kFatal, true},
};
constexpr std::size_t kHandledCount = std::size(kHandled);

// Signal handlers reach only process-wide data, so what they need lives
// here; there is one terminal session per process at a time.
struct SignalShared {
  std::atomic<bool> interrupt{false};
  std::atomic<bool> resize{false};
  std::atomic<bool> screen_active{false};  // restore bytes still to be written
  std::atomic<bool> mode_changed{false};   // saved_mode still to be put back
  termios saved_mode{};
  char restore[kRestoreLimit] = {};
  std::size_t restore_length = 0;
  struct sigaction previous[kHandledCount] = {};
  bool installed[kHandledCount] = {};
};
SignalShared g_shared;

static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need lock-free flags");

void RestoreFromSignal() {
  if (g_shared.screen_active.exchange(false)) {
    ssize_t written = ::write(1, g_shared.restore, g_shared.restore_length);
    (void)written;
  }
  if (g_shared.mode_changed.exchange(false)) ::tcsetattr(0, TCSANOW, &g_shared.saved_mode);
}

bool IsFault(int number, const siginfo_t* info) {
  bool fault_signal = number == SIGSEGV || number == SIGBUS || number == SIGFPE || number == SIGILL;
  return fault_signal && info != nullptr && info->si_code > 0 && info->si_code != SI_KERNEL;
}

void OnSignal(int number, siginfo_t* info, void*) {
  int saved_errno = errno;
  for (std::size_t i = 0; i < kHandledCount; ++i) {
    if (kHandled[i].number != number) continue;
    switch (kHandled[i].reaction) {
      case Reaction::kInterrupt:
        g_shared.interrupt = true;
        break;
      case Reaction::kResize:
        g_shared.resize = true;
        break;
      case Reaction::kFatal:
        RestoreFromSignal();
        ::sigaction(number, &g_shared.previous[i], nullptr);
        g_shared.installed[i] = false;
        // A fault recurs by itself when the faulting instruction runs
        // again; any other signal is raised again to take its course.
        if (!IsFault(number, info)) ::raise(number);
        break;
    }
  }
  errno = saved_errno;
}

void InstallHandlers(bool with_terminal) {
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kHandledCount; ++i) {
    g_shared.installed[i] = false;
    if (kHandled[i].needs_terminal && !with_terminal) continue;
    // A signal the process was started to ignore (nohup) stays ignored.
    if (::sigaction(kHandled[i].number, nullptr, &g_shared.previous[i]) != 0 ||
        g_shared.previous[i].sa_handler == SIG_IGN)
      continue;
    g_shared.installed[i] = ::sigaction(kHandled[i].number, &action, nullptr) == 0;
  }
}

void RemoveHandlers() {
  for (std::size_t i = kHandledCount; i-- > 0;) {
    if (!g_shared.installed[i]) continue;
    ::sigaction(kHandled[i].number, &g_shared.previous[i], nullptr);
    g_shared.installed[i] = false;
  }
}

// Keys arrive one by one without echo and without waiting; Ctrl+C still
// raises SIGINT (taken as Esc), while Ctrl+Z is switched off so the process
// is never stopped with the terminal in this mode.
termios RawMode(termios mode) {
  mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN));
  mode.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR | ISTRIP));
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 0;
  mode.c_cc[VSUSP] = _POSIX_VDISABLE;
  return mode;
}

class PosixTerminal final : public TerminalIo {
 public:
  PosixTerminal() : output_tty_(::isatty(1) == 1), input_tty_(::isatty(0) == 1) {}
  ~PosixTerminal() override { EndSession(); }

  bool OutputIsTerminal() const override { return output_tty_; }

  std::optional<TerminalSize> Size() const override {
    winsize size{};
    for (int fd : {1, 0}) {
      if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        return TerminalSize{size.ws_row, size.ws_col};
    }
    return std::nullopt;
  }

  void BeginSession(std::string_view restore_bytes) override {
    if (in_session_) return;
    std::cout.flush();
    std::fflush(stdout);
    g_shared.interrupt = false;
    g_shared.resize = false;
    if (output_tty_) {
      g_shared.restore_length = std::min(restore_bytes.size(), kRestoreLimit);
      std::memcpy(g_shared.restore, restore_bytes.data(), g_shared.restore_length);
      g_shared.screen_active = true;
      if (input_tty_ && ::tcgetattr(0, &g_shared.saved_mode) == 0) {
        termios raw = RawMode(g_shared.saved_mode);
        raw_input_ = ::tcsetattr(0, TCSANOW, &raw) == 0;
        g_shared.mode_changed = raw_input_;
      }
    }
    InstallHandlers(output_tty_);
    in_session_ = true;
  }

  void EndSession() override {
    if (!in_session_) return;
    g_shared.screen_active = false;
    if (g_shared.mode_changed.exchange(false)) ::tcsetattr(0, TCSANOW, &g_shared.saved_mode);
    RemoveHandlers();
    raw_input_ = false;
    in_session_ = false;
  }

  void Write(std::string_view bytes) override {
    if (!output_tty_) return;
    while (!bytes.empty()) {
      ssize_t n = ::write(1, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd entry{1, POLLOUT, 0};
        if (::poll(&entry, 1, kWriteWaitMs) <= 0) return;
      } else {
        return;
      }
    }
  }

  std::size_t ReadInput(char* buffer, std::size_t size) override {
    if (!raw_input_ || size == 0) return 0;
    ssize_t n = ::read(0, buffer, size);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

  void DiscardInput() override {
    if (input_tty_) ::tcflush(0, TCIFLUSH);
  }

  bool TakeInterrupt() override { return g_shared.interrupt.exchange(false); }
  bool TakeResize() override { return g_shared.resize.exchange(false); }

 private:
  const bool output_tty_;
  const bool input_tty_;
  bool in_session_ = false;
  bool raw_input_ = false;
};

}  // namespace

std::unique_ptr<TerminalIo> OpenProcessTerminal() { return std::make_unique<PosixTerminal>(); }

}  // namespace postil::platform
