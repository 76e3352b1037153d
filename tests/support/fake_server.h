// The base of the fake POP3 and SMTP servers used by the tests and by
// tools/mailsim: listens on 127.0.0.1, accepts one connection at a time in
// its own thread and hands each to a handler. The handler runs in the server
// thread; the record and Stop() may be used from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/transport.h"
#include "platform/tcp_listener.h"

namespace postil::test {

class FakeServer;

// What a connection received: the lines as ReadLine returned them and the
// exact bytes taken from the socket.
struct ConnectionRecord {
  std::vector<std::string> lines;
  std::string bytes;
  std::vector<std::size_t> receive_sizes;  // bytes taken by each receive, in order
};

// One accepted connection, used by the handler in the server thread.
class FakeConnection {
 public:
  enum class ReadResult { kLine, kClosed, kTimeOut };
  // Longest line ReadLine returns in one piece; the rest comes next.
  static constexpr std::size_t kMaxLine = 1 << 20;
  static constexpr int kDefaultTimeLimitMs = 10000;

  FakeConnection(FakeServer& server, std::unique_ptr<Transport> transport, int index);
  ~FakeConnection();
  FakeConnection(const FakeConnection&) = delete;
  FakeConnection& operator=(const FakeConnection&) = delete;

  // Zero-based number of the connection since the server started.
  int index() const { return index_; }

  // The next line without its LF and a CR just before it. kClosed when the
  // peer closed (a partial last line still comes as kLine first), on an
  // error or when the server stops; kTimeOut when nothing ended a line
  // within the limit (the bytes so far stay for the next call).
  ReadResult ReadLine(std::string* line, int time_limit_ms = kDefaultTimeLimitMs);
  // The text and CR LF. False once the connection is closed.
  bool SendLine(std::string_view text);
  // The bytes exactly. False once the connection is closed.
  bool SendRaw(std::string_view bytes);
  void Close();
  bool closed() const { return closed_; }

  // Faults.
  // Sends nothing for `ms` milliseconds, or until the server stops.
  void Stall(int ms);
  void StallUntilStopped();
  // The connection closes after `count` more bytes were sent, in the middle
  // of a send when it comes to that.
  void CloseAfterBytes(std::size_t count);
  // Shuts the connection down at once (the client sees it closed).
  void ShutdownNow();
  // Off: lines and bytes are no longer recorded (for big transfers).
  void SetRecording(bool on) { recording_ = on; }

 private:
  friend class FakeServer;
  bool SendAll(std::string_view bytes);
  // Moves received bytes into pending_; false on close, error or time-out.
  ReadResult Fill(int time_limit_ms);
  void Record(std::string_view line, std::string_view bytes);

  FakeServer& server_;
  std::unique_ptr<Transport> transport_;
  const int index_;
  std::string pending_;  // received, not yet returned
  std::size_t pending_begin_ = 0;
  bool peer_closed_ = false;
  bool closed_ = false;
  bool recording_ = true;
  bool close_after_armed_ = false;
  std::size_t close_after_left_ = 0;
};

class FakeServer {
 public:
  using Handler = std::function<void(FakeConnection&)>;

  // Starts listening on 127.0.0.1:`port` (0: ephemeral) and serving. Throws
  // std::runtime_error when it cannot listen.
  // `pace_ms`: every send waits that long first (so a person can watch).
  explicit FakeServer(Handler handler, int port = 0, int pace_ms = 0);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const { return port_; }
  // Ends Stall() at once, serves the connections already made (so a
  // client that has finished is recorded whole), waits up to two seconds
  // for the handlers to end, then cuts the current connection (a handler
  // blocked in ReadLine returns kClosed) and joins the thread. Idempotent.
  // A handler must wait only through its connection (ReadLine, Stall) to be
  // stoppable.
  void Stop();
  bool stopping() const { return stopping_; }

  // Connections accepted so far.
  int ConnectionCount() const;
  // A copy of the record of each connection, in order.
  std::vector<ConnectionRecord> Records() const;
  // Every line received, over all connections.
  std::vector<std::string> Lines() const;

 private:
  friend class FakeConnection;
  void Serve();
  void WaitStopped(int ms);

  Handler handler_;
  platform::TcpListener listener_;
  int port_ = 0;
  const int pace_ms_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable stop_signal_;       // with mutex_: stopping_, serving_done_
  bool serving_done_ = false;                 // guarded by mutex_
  bool cut_ = false;                          // guarded by mutex_
  std::vector<ConnectionRecord> records_;     // guarded by mutex_
  FakeConnection* current_ = nullptr;         // guarded by mutex_
  std::thread thread_;
};

}  // namespace postil::test
