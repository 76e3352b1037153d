// A POP3 server on loopback for the tests, the benchmarks and tools/mailsim:
// an in-memory mailbox that outlives connections (so two runs see the same
// mailbox), USER/PASS checking, CAPA, STLS, STAT, TOP, RETR, DELE (applied at
// QUIT, as POP3 servers do), NOOP, RSET and QUIT, wire dot-stuffing, reply
// overrides and faults, plain or over TLS. Configure it before the client
// connects; read the results at any time from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_server.h"

namespace postil::test {

class FakePop3Server {
 public:
  struct Options {
    std::string user = "user";
    std::string password = "secret";
    // The greeting line; nothing: the server stays silent after accepting.
    std::optional<std::string> greeting = std::string("+OK POP3 fake server ready");
    // Close the connection at once instead of greeting.
    bool close_instead_of_greeting = false;
    // After the greeting every command is read and never answered.
    bool silent_after_greeting = false;
    // "+OK <size> octets" on TOP when true, else "+OK top of message follows".
    bool top_states_size = true;
    int port = 0;     // 0: an ephemeral port
    int pace_ms = 0;  // wait before every reply
    std::string listen_address = "127.0.0.1";  // or "::1"
    // The server's certificate and key; needed by the two below.
    TlsServerSettings tls;
    // TLS from the first byte (the greeting comes secured).
    bool implicit_tls = false;
    // CAPA lists "STLS" until secured, and STLS is answered "+OK Begin TLS
    // negotiation" and secures the connection (before login only).
    bool offer_stls = false;
    // Where the handshake would begin, the TCP connection is closed instead.
    bool cut_handshake = false;
  };

  // What happens in the middle of a RETR reply: the connection closes, the
  // server falls silent, the rest trickles one byte every kTrickleMs, or
  // the message never ends: lines of kEndlessLine bytes follow, as fast as
  // the client takes them or one every kTrickleMs (until the client goes,
  // the server stops, or kEndlessBytes were sent).
  enum class RetrFault { kClose, kStall, kTrickle, kEndless, kEndlessSlow };
  static constexpr int kTrickleMs = 500;
  static constexpr std::size_t kEndlessLine = 1024;
  static constexpr std::size_t kEndlessBytes = std::size_t{256} << 20;

  // `messages` are the mailbox, numbered from 1; their lines end with LF or
  // CR LF (a last line without one is taken as a line).
  explicit FakePop3Server(std::vector<std::string> messages);
  FakePop3Server(std::vector<std::string> messages, Options options);
  ~FakePop3Server();
  FakePop3Server(const FakePop3Server&) = delete;
  FakePop3Server& operator=(const FakePop3Server&) = delete;

  int port() const { return server_.port(); }
  void Stop() { server_.Stop(); }

  // The reply line for `command` (compared exactly, e.g. "RETR 2") in place
  // of the normal one. A "+OK" reply to TOP or RETR is still followed by the
  // message lines; any other reply ends the command.
  void SetReply(std::string command, std::string reply);
  // For RETR of `message`: `action` after `bytes` bytes of the lines that
  // follow the status line (closing after all but the last 3 bytes leaves
  // out the final ".").
  void SetRetrFault(int message, std::size_t bytes, RetrFault action);
  // Stay silent from the moment a command beginning with `prefix` arrives.
  void StallOnCommand(std::string prefix);
  // Called in the server thread with every command before it is answered.
  void SetCommandHook(std::function<void(const std::string&)> hook);
  // Called in the server thread with every command once its whole reply
  // (message lines included) was handed to the socket.
  void SetSentHook(std::function<void(const std::string&)> hook);
  // Don't keep the lines received (for big transfers).
  void SetRecording(bool on);

  // Every command line received, over all connections, in order.
  std::vector<std::string> Commands() const { return server_.Lines(); }
  // The commands of each connection.
  std::vector<std::vector<std::string>> CommandsByConnection() const;
  int ConnectionCount() const { return server_.ConnectionCount(); }
  // The full record of each connection (where TLS began, bytes dropped).
  std::vector<ConnectionRecord> Records() const { return server_.Records(); }
  // The mailbox now: the messages not deleted by a completed QUIT.
  std::vector<std::string> Mailbox() const;

  // A message as it goes over the wire after the status line of RETR: each
  // line with CR LF, a leading "." doubled, then ".\r\n".
  static std::string WireForm(std::string_view message);
  // The size a server states: the octets of the message with CR LF line ends.
  static std::uint64_t StatedSize(std::string_view message);

 private:
  struct Session;
  void Serve(FakeConnection& connection);
  bool Answer(FakeConnection& connection, Session& session, const std::string& command);
  bool SendMessage(FakeConnection& connection, int number, bool header_only);
  bool SendCapabilities(FakeConnection& connection, const std::optional<std::string>& reply);
  bool StartTls(FakeConnection& connection, Session& session,
                const std::optional<std::string>& reply);
  std::optional<std::string> Override(const std::string& command) const;
  bool StallsOn(const std::string& command) const;

  Options options_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;             // guarded by mutex_
  std::map<std::string, std::string> overrides_;  // guarded by mutex_
  struct Fault {
    std::size_t bytes;
    RetrFault action;
  };
  std::map<int, Fault> retr_faults_;                   // guarded by mutex_
  std::vector<std::string> stall_prefixes_;            // guarded by mutex_
  bool recording_ = true;                              // guarded by mutex_
  std::function<void(const std::string&)> hook_;       // guarded by mutex_
  std::function<void(const std::string&)> sent_hook_;  // guarded by mutex_
  FakeServer server_;                                  // last: its thread uses the above
};

}  // namespace postil::test
