// The shared run state: flags, counters and texts through which main, the
// status screen thread and the two workers coordinate. Created once by main
// and passed by reference; each member says what guards it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/program_identity.h"
#include "core/status_field.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"

namespace postil {

// A connection that another thread may cut short (the kill keys). Abort()
// must only make the owner's pending wait fail; the owner closes it.
class Abortable {
 public:
  virtual void Abort() = 0;

 protected:
  ~Abortable() = default;
};

// A worker's current connection as seen by the status screen. The worker
// attaches its connection after connecting and detaches it before closing,
// so an abort never touches a connection that is gone.
class ConnectionSlot {
 public:
  void Attach(Abortable* connection) {
    std::lock_guard lock(mutex_);
    connection_ = connection;
  }
  void Detach() {
    Attach(nullptr);
    secured_ = false;
  }
  // The attached connection is secured with TLS (shown on the panel).
  void SetSecured(bool secured) { secured_ = secured; }
  bool Secured() const { return secured_; }
  // True when a connection was attached and has been aborted.
  bool Abort() {
    std::lock_guard lock(mutex_);
    if (connection_ == nullptr) return false;
    connection_->Abort();
    return true;
  }

 private:
  std::mutex mutex_;
  Abortable* connection_ = nullptr;  // guarded by mutex_
  std::atomic<bool> secured_{false};
};

// A text shared between threads, read and written whole.
class SharedText {
 public:
  void Set(std::string_view text) {
    std::lock_guard lock(mutex_);
    text_ = text;
  }
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;  // guarded by mutex_
};

struct RunState {
  explicit RunState(const platform::Clock& clock_in) : clock(clock_in), log(clock_in, ProgramName, ProgramVersion) {}

  const platform::Clock& clock;  // immutable
  Log log;                       // any thread, see log_writer.h

  // The only lock between the threads and the processes: held while a file
  // number is chosen and a file opened, while a connection is opened and its
  // greeting read, and while a spool file name is chosen and the file created.
  platform::NamedMutex StateMutex{StateMutexName};

  // Switches from the command line; written by main before any thread starts.
  std::atomic<bool> Pop3Enabled{true};
  std::atomic<bool> OpenPop3Only{false};
  std::atomic<bool> SmtpEnabled{true};

  std::atomic<bool> ExitRequested{false};      // atomic; status screen thread
  std::atomic<bool> ScreenStopRequest{false};  // atomic; main
  std::atomic<bool> ScreenStopped{false};      // atomic; status screen thread
  std::atomic<bool> Pop3Connected{false};      // atomic; POP3 worker
  std::atomic<bool> SmtpConnected{false};      // atomic; SMTP worker
  std::atomic<bool> Pop3ErrorFlag{false};      // atomic; POP3 worker, loader
  std::atomic<bool> SmtpErrorFlag{false};      // atomic; SMTP worker, SMTP-after-POP wait, loader

  ConnectionSlot Pop3Socket;  // POP3 worker attaches; status screen aborts
  ConnectionSlot SmtpSocket;  // SMTP worker attaches; status screen aborts

  std::atomic<std::uint64_t> TotalBytes{0};    // atomic; both workers
  std::atomic<double> ScreenStartTime{0.0};    // atomic; status screen thread

  // Status panel inputs written by the workers (atomic or self-guarded).
  StatusField<40> Pop3SentRcvdField;
  StatusField<53> Pop3InfoField;
  StatusField<40> SmtpSentRcvdField;
  StatusField<53> SmtpInfoField;
  SharedText Pop3ServerName;                   // server of the current POP3 session
  SharedText SmtpServerName;                   // server of the current SMTP session
  std::atomic<bool> KeepOnServerMark{false};   // POP3 worker
  std::atomic<bool> BatchedMode{false};        // SMTP worker, file being sent
  std::atomic<bool> MailMark{false};           // set once a message reached the inbound spool
  std::atomic<std::uint64_t> KillCount{0};     // POP3 worker, messages killed by the filter
  std::atomic<std::uint64_t> MessageBytesReceived{0};  // POP3 worker
  std::atomic<std::uint64_t> MessageSize{0};           // POP3 worker
  std::atomic<std::uint64_t> MailboxSize{0};           // POP3 worker
  std::atomic<std::uint64_t> SentBytes{0};             // SMTP worker
  std::atomic<std::uint64_t> SpoolFileSize{0};         // SMTP worker

  // Current inbound spool directory: set by the POP3 worker, read by the
  // bounce and notice writer.
  SharedText InboundSpoolDir;

  // CR LF at start-up; LF alone from the first message scan for the rest of
  // the run (the inbound spool and the local mail writer end lines with it).
  std::atomic<bool> LineEndIsLf{false};
  std::string_view LineEnd() const { return LineEndIsLf ? std::string_view("\n") : std::string_view("\r\n"); }
};

}  // namespace postil
