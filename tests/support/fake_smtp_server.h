// An SMTP server on loopback for the tests, the benchmarks and
// tools/mailsim: greeting, HELO/EHLO with configurable capability lines,
// STARTTLS or TLS from the first byte, AUTH LOGIN and AUTH PLAIN checked
// against one user, MAIL/RCPT/DATA with the usual sequence errors (a second
// MAIL without RSET is refused, as real servers do), RSET, NOOP, QUIT;
// reply overrides and faults per command; a record of the dialogue and of
// every message's exact data bytes and of the receives that brought them.
// Configure it before the client connects; read the record at any time from
// any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_server.h"

namespace postil::test {

class FakeSmtpServer {
 public:
  enum class Fault { kNone, kSilence, kClose };

  // In place of the normal reply to the first command that begins with `on`
  // (exact case; "<greeting>" for the greeting, "." for the end of the
  // data): `reply` is sent, or the fault happens. The command takes effect
  // only when the reply is positive (2xx or 3xx).
  struct Rule {
    std::string on;
    std::vector<std::string> reply;
    Fault fault = Fault::kNone;
    int times = -1;  // how often the rule applies; -1: always
    int skip = 0;    // matches passed by before it applies
  };

  struct Options {
    std::vector<std::string> greeting = {"220 fake.test ESMTP ready"};
    std::vector<std::string> ehlo = {"250-fake.test", "250-AUTH LOGIN PLAIN", "250 8BITMIME"};
    std::string user = "user";
    std::string password = "secret";
    // Off: the data is counted, not kept (big transfers).
    bool keep_data = true;
    // Off: no dialogue and no receive record (big transfers).
    bool record = true;
    // Close the connection after this many data lines of a message (-1: never).
    int close_after_data_lines = -1;
    int port = 0;     // 0: an ephemeral port
    int pace_ms = 0;  // wait before every reply
    // Every byte of a reply goes alone, this long after the one before (a
    // server that stays just within each wait of the client).
    int dribble_ms = 0;
    std::string listen_address = "127.0.0.1";  // or "::1"
    // The server's certificate and key; needed by the two below.
    TlsServerSettings tls;
    // TLS from the first byte (the greeting comes secured).
    bool implicit_tls = false;
    // The EHLO reply lists "250-STARTTLS" until secured, and STARTTLS is
    // answered "220 Ready to start TLS" and secures the connection, after
    // which the client must greet again.
    bool offer_starttls = false;
    // Where the handshake would begin, the TCP connection is closed instead.
    bool cut_handshake = false;
  };

  struct Message {
    int connection = 0;
    std::string helo;                 // the domain of the last HELO or EHLO
    std::string mail_from;            // the text after "MAIL FROM:"
    std::vector<std::string> rcpt_to;  // the texts after "RCPT TO:"
    // The bytes after the "354" reply up to and including CR LF "." CR LF
    // exactly as they arrived (with the record off: the lines, each with CR LF).
    std::string data;
    std::size_t data_size = 0;
    // Sizes of the receives that brought the data (the last may also hold
    // what followed it); empty with the record off.
    std::vector<std::size_t> receive_sizes;
    bool complete = false;  // the "." line arrived
    bool accepted = false;  // and was answered with 250
  };

  struct Authentication {
    std::string mechanism;  // "LOGIN" or "PLAIN"
    std::string user;       // decoded
    std::string password;   // decoded
    bool accepted = false;
  };

  FakeSmtpServer();
  explicit FakeSmtpServer(Options options);
  ~FakeSmtpServer();
  FakeSmtpServer(const FakeSmtpServer&) = delete;
  FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

  void AddRule(Rule rule);
  // Called in the server thread for every accepted message.
  void OnMessage(std::function<void(const Message&)> callback);
  // Called in the server thread with every command line (outside the data
  // and the AUTH dialogue), before it is answered.
  void OnCommand(std::function<void(const std::string&)> callback);

  int port() const { return server_.port(); }
  void Stop() { server_.Stop(); }
  int ConnectionCount() const { return server_.ConnectionCount(); }
  // The full record of each connection (where TLS began, bytes dropped).
  std::vector<ConnectionRecord> Records() const { return server_.Records(); }

  // "C: " + each line received outside the data (and the final "."), and
  // "S: " + each line sent, in order, over all connections.
  std::vector<std::string> Dialogue() const;
  // The client's lines of the dialogue, without "C: ".
  std::vector<std::string> Commands() const;
  std::vector<Message> Messages() const;
  std::vector<Authentication> Authentications() const;
  // When each connection was accepted.
  std::vector<std::chrono::steady_clock::time_point> ConnectTimes() const;

 private:
  struct Session;
  void Serve(FakeConnection& connection);
  bool HandleCommand(FakeConnection& connection, Session& session, const std::string& line);
  bool Authenticate(FakeConnection& connection, const std::string& line);
  bool StartTls(FakeConnection& connection, Session& session, const std::string& line);
  // The EHLO reply as the connection stands (STARTTLS offered or not).
  std::vector<std::string> EhloReply(const FakeConnection& connection) const;
  bool ReceiveData(FakeConnection& connection, Session& session);
  // Sends the reply for `on` (a rule's or `normal`); false when a fault
  // ended the connection. `positive` tells whether the command takes effect.
  bool Reply(FakeConnection& connection, std::string_view on,
             const std::vector<std::string>& normal, bool* positive = nullptr);
  bool Send(FakeConnection& connection, const std::vector<std::string>& lines);
  // Reads the next line; false when the connection ended.
  bool ReadLine(FakeConnection& connection, std::string* line);
  void Note(std::string line);
  // The exact bytes of the data that began at `start` in the record of
  // `connection`, with the receives that brought them.
  void TakeWireData(int connection, std::size_t start, Message* message) const;

  Options options_;
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;                         // guarded by mutex_
  std::vector<std::string> dialogue_;               // guarded by mutex_
  std::vector<Message> messages_;                   // guarded by mutex_
  std::vector<Authentication> authentications_;     // guarded by mutex_
  std::vector<std::chrono::steady_clock::time_point> connect_times_;  // guarded by mutex_
  std::function<void(const Message&)> on_message_;  // guarded by mutex_
  std::function<void(const std::string&)> on_command_;  // guarded by mutex_
  FakeServer server_;                               // last: its thread uses the above
};

// Standard Base64 decoding (for checking credentials); invalid characters
// are skipped.
std::string DecodeBase64(std::string_view text);

}  // namespace postil::test
