// The base of the fake POP3 and SMTP servers used by the tests and by
// tools/mailsim: listens on a loopback address, accepts one connection at a
// time in its own thread and hands each to a handler, over TLS from the first
// byte or after the protocol's go-ahead when asked. The handler runs in the
// server thread; the record and Stop() may be used from any thread.
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
// exact bytes taken from the socket (decrypted, once secured).
struct ConnectionRecord {
  std::vector<std::string> lines;
  std::string bytes;
  std::vector<std::size_t> receive_sizes;  // bytes taken by each receive, in order
  // Index in `lines` of the first line that came over TLS; npos when the
  // connection was never secured (0: secured from the first byte).
  std::size_t secured_from_line = std::string::npos;
  // Bytes that had arrived but were not yet read when TLS began: a client
  // must not send ahead of the go-ahead, so they were thrown away.
  std::string discarded_at_tls;
  // Why the TLS handshake failed; empty when it did not.
  std::string tls_error;
};

struct FakeServerOptions {
  int port = 0;     // 0: an ephemeral port
  int pace_ms = 0;  // every send waits that long first (so a person can watch)
  std::string listen_address = "127.0.0.1";  // or "::1"
  // The certificate presented by StartTls() and implicit TLS.
  TlsServerSettings tls;
  // Every connection is secured right after accept, before the handler runs.
  bool implicit_tls = false;
  // Where the handshake would begin, the TCP connection is closed instead.
  bool cut_handshake = false;
};

// One accepted connection, used by the handler in the server thread.
class FakeConnection {
 public:
  enum class ReadResult { kLine, kClosed, kTimeOut };
  // Longest line ReadLine returns in one piece; the rest comes next.
  static constexpr std::size_t kMaxLine = 1 << 20;
  static constexpr int kDefaultTimeLimitMs = 10000;
  static constexpr int kHandshakeTimeLimitMs = 10000;

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
  // The server side of the TLS handshake on this connection, with the
  // server's certificate (or the cut, when the server is told to cut it).
  // False, with the connection closed, when it failed.
  bool StartTls();
  bool secured() const { return transport_->IsSecured(); }

  // Faults.
  // Sends nothing for `ms` milliseconds, or until the server stops.
  void Stall(int ms);
  void StallUntilStopped();
  // The connection closes after `count` more bytes were sent, in the middle
  // of a send when it comes to that.
  void CloseAfterBytes(std::size_t count);
  // Shuts the connection down at once (the client sees it closed; over TLS
  // without the closing alert, as a cut stream).
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

  // Starts listening and serving. Throws std::runtime_error when it cannot
  // listen.
  explicit FakeServer(Handler handler, FakeServerOptions options = {});
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
  const FakeServerOptions options_;
  platform::TcpListener listener_;
  int port_ = 0;
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
