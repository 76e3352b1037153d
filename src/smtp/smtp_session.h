// One connection of the SMTP worker to a server: connect and greeting, the
// HELO or EHLO (with AUTH LOGIN or AUTH PLAIN) done lazily by the first
// message, QUIT. Owned by the SMTP worker; the status screen may only abort
// the connection through RunState::SmtpSocket.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "config/accounts.h"
#include "core/channel.h"
#include "core/worker_connection.h"
#include "log/logger.h"
#include "smtp/sending_bounds.h"

namespace postil {

struct Config;
struct RunState;

// What reading a reply gave: a line, nothing because the server closed the
// connection, or a channel failure (time-out, socket error, abort).
enum class ReplyStatus { kLine, kClosed, kFailed };

// True when `user` asks for no authentication: empty, or one of
// "disabled", "n", "off", "nein", "false", "0" without regard to case.
bool IsNoAuthenticationUser(std::string_view user);

// The mechanism words an EHLO line offers: "PLAIN " and/or "LOGIN ".
std::string OfferedMechanisms(std::string_view ehlo_line);

class SmtpSession {
 public:
  // A server may not send more lines than this in one reply (greeting,
  // EHLO, batched commands); more is taken as a broken server.
  static constexpr int kMaxReplyLines = 100;

  SmtpSession(RunState& state, const Config& config, const SmtpAccount& account);
  // Over the given transport in place of plain TCP.
  SmtpSession(RunState& state, const Config& config, const SmtpAccount& account,
              std::unique_ptr<Transport> transport);
  ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects under the state mutex until the greeting is read. True when the
  // greeting ends with "220 "; otherwise the connection is closed, the
  // field and log tell why and SmtpErrorFlag is set.
  bool SmtpConnect();
  // HELO (no user) or EHLO with authentication, once per connection: true
  // at once when done before. On false `reply` holds the last server line
  // ("   " after a channel failure).
  bool SmtpGreet(std::string_view helo_domain, std::string* reply);
  // QUIT and close; true when answered "221".
  bool SmtpQuit();

  // One command line (CR LF added, one send).
  bool SendCommand(std::string_view line);
  // Bytes exactly as given.
  bool SendRaw(std::string_view bytes);
  // The data of a message follows: its sends are bounded as
  // DataAllowedMilliseconds() says, until the next reply is read.
  void BeginData();
  // A reply line. Replies that fall behind as ReplyReserve says give the
  // connection up: the line that used up the reserve still counts, but
  // every later send and read fails. Both bounds are logged (kFailure) and
  // set SmtpErrorFlag when they give up.
  ReplyStatus ReadReply(std::string* line);
  // Reads the lines of a reply while they begin `continuation` ("250-"),
  // at most kMaxReplyLines; each line goes to `on_line`. The last line read
  // is the reply.
  template <typename OnLine>
  ReplyStatus ReadMultiLine(std::string_view continuation, std::string* line, OnLine on_line);

  // Closes the connection (detached from the kill keys first); SmtpConnected
  // drops to 0.
  void CloseConnection();
  // Closes the connection because of the file being sent, not the server
  // (data that cannot be completed): the files after it may go over a new
  // connection.
  void AbandonConnection();
  bool Abandoned() const { return abandoned_; }
  bool IsOpen() const { return open_; }
  // True once a send failed or a read gave no reply: the dialogue can no
  // longer be trusted to be in step with the server.
  bool Broken() const { return broken_; }
  std::string LocalIpAddress() const { return channel_.LocalIpAddress(); }

  RunState& state() { return state_; }
  // The SMTP worker's logger: every line of the session's work is on its
  // thread.
  const Logger& log() const { return log_; }
  const Config& config() const { return config_; }
  const SmtpAccount& account() const { return account_; }

 private:
  struct AuthStep;
  bool SmtpAuthenticate(std::string_view mechanisms);
  // STARTTLS right after the greeting; false (the cause on the channel)
  // when the server does not offer it or the channel cannot be secured.
  bool StartTls();
  // Runs the steps of one AUTH dialogue; false at the first wrong reply
  // (logged, field set, SmtpErrorFlag) or channel failure (silent).
  bool RunAuthSteps(const AuthStep* steps, std::size_t count);
  // Charges a reply line that took `ms` to the reserve; gives the
  // connection up when it is used up.
  void ChargeReply(std::int64_t ms, bool begins_reply);
  void GiveUp(const std::string& why);
  // After a failed send: says so when the data's bound cut it.
  void NoteSendFailure();

  RunState& state_;
  const Logger log_;
  const Config& config_;
  const SmtpAccount& account_;
  DataBoundTransport* data_bound_ = nullptr;  // the channel's transport, owned by it
  WorkerConnection connection_;
  Channel& channel_ = connection_.channel();
  ReplyReserve reply_reserve_;
  bool awaiting_reply_ = false;  // a send since the last reply line
  bool given_up_ = false;
  bool open_ = false;
  bool broken_ = false;
  bool abandoned_ = false;
  bool greeting_pending_ = false;
  bool warned_plain_password_ = false;
};

template <typename OnLine>
ReplyStatus SmtpSession::ReadMultiLine(std::string_view continuation, std::string* line,
                                       OnLine on_line) {
  ReplyStatus status = ReplyStatus::kLine;
  for (int count = 0; count < kMaxReplyLines; ++count) {
    status = ReadReply(line);
    if (status != ReplyStatus::kLine) return status;
    on_line(*line);
    if (!line->starts_with(continuation)) return status;
  }
  return status;
}

}  // namespace postil
