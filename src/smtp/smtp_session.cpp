#include "smtp/smtp_session.h"

#include <chrono>
#include <initializer_list>

#include "config/config.h"
#include "core/run_state.h"
#include "smtp/reply_log.h"
#include "text/cp437_case.h"
#include "text/header_codecs.h"

namespace postil {

bool IsNoAuthenticationUser(std::string_view user) {
  std::string lower = LowerCase(user);
  for (std::string_view word : {"", "disabled", "n", "off", "nein", "false", "0"}) {
    if (lower == word) return true;
  }
  return false;
}

std::string OfferedMechanisms(std::string_view ehlo_line) {
  std::string list;
  if (ehlo_line.find("PLAIN") != std::string_view::npos) list += "PLAIN ";
  if (ehlo_line.find("LOGIN") != std::string_view::npos) list += "LOGIN ";
  return list;
}

namespace {

// The session's transport, wrapped so that the data of a message is
// bounded; `bound` keeps a view of the wrapper.
std::unique_ptr<Transport> BoundData(std::unique_ptr<Transport> transport,
                                     DataBoundTransport** bound) {
  auto wrapped = std::make_unique<DataBoundTransport>(std::move(transport));
  *bound = wrapped.get();
  return wrapped;
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

struct SmtpSession::AuthStep {
  std::string log;
  std::string field;
  std::string line;
  std::string_view code;     // the reply that lets the dialogue go on
  std::string_view refusal;  // SmtpInfoField when another reply comes
};

SmtpSession::SmtpSession(RunState& state, const Config& config, const SmtpAccount& account)
    : SmtpSession(state, config, account, MakeTcpTransport()) {}

SmtpSession::SmtpSession(RunState& state, const Config& config, const SmtpAccount& account,
                         std::unique_ptr<Transport> transport)
    : state_(state),
      log_(state.log.For(LogThread::kSmtp)),
      config_(config),
      account_(account),
      connection_(state.SmtpSocket, BoundData(std::move(transport), &data_bound_)) {
  channel_.SetBoundNotice(
      [this](std::int64_t seconds) { log_.Write(LogLevel::kFailure, ExchangeBoundText(seconds)); });
}

SmtpSession::~SmtpSession() { CloseConnection(); }

bool SmtpSession::SmtpConnect() {
  state_.SmtpConnected = false;
  state_.SmtpSentRcvdField.Set("");
  state_.SmtpInfoField.Set("Connecting ...");
  std::string line;
  open_ = true;
  broken_ = false;
  given_up_ = false;
  awaiting_reply_ = false;
  reply_reserve_ = ReplyReserve(static_cast<std::int64_t>(account_.TimeOut) * 1000);
  const ConnectionTarget target = MakeConnectionTarget(account_.Server, account_.Port,
                                                       account_.TimeOut, account_.Tls,
                                                       config_.TlsCaFile);
  connection_.OpenAndGreet(state_, log_, target, [&](Channel& channel) {
        ReplyLog reply_log(log_);
        for (int count = 0; count < kMaxReplyLines; ++count) {
          const auto start = std::chrono::steady_clock::now();
          if (!HasText(channel.ReadReplyLine(&line))) break;
          ChargeReply(MillisecondsSince(start), count == 0);
          state_.TotalBytes += line.size() + 2;
          reply_log.Line(line.starts_with("220") ? LogLevel::kProgress : LogLevel::kFailure, line);
          if (!line.starts_with("220-")) break;
        }
        reply_log.End();
      });
  if (line.starts_with("220 ")) {
    state_.SmtpConnected = true;
    log_.Write(LogLevel::kConnection, "SMTP Connection etablished");
    greeting_pending_ = true;
    if (account_.Tls.mode != TlsMode::kStartTls || StartTls()) return true;
    log_.Write(LogLevel::kFailure, connection_.FailureText());
    state_.SmtpInfoField.Set(connection_.FailureCause());
  } else if (line.empty()) {
    state_.SmtpInfoField.Set("Host not found");
    log_.Write(LogLevel::kFailure, "SMTP Server " + account_.Server + " not found");
    log_.Write(LogLevel::kFailure, connection_.FailureText());
  } else {
    state_.SmtpInfoField.Set(line);
    // The other protocol's greeting means the port is wrong, not the server.
    if (line.starts_with("+OK")) {
      log_.Write(LogLevel::kFailure,
                 "SMTP Server " + account_.Server + " port " + std::to_string(account_.Port) +
                     " answered like a POP3 server: check SmtpPort (25 or 587, or 465 for TLS)");
    }
  }
  state_.SmtpErrorFlag = true;
  CloseConnection();
  return false;
}

// EHLO names the client by its address, as the HELO domain of the messages
// is not known yet; STARTTLS must be among the extensions.
bool SmtpSession::StartTls() {
  const std::string address = channel_.LocalIpAddress();
  const std::string literal =
      address.find(':') == std::string::npos ? "[" + address + "]" : "[IPv6:" + address + "]";
  bool offered = false;
  std::string reply;
  ReplyStatus status = ReplyStatus::kFailed;
  if (SendCommand("EHLO " + literal)) {
    status = ReadMultiLine("250-", &reply, [&offered](const std::string& line) {
      offered = offered || (line.starts_with("250") && UpperCase(line.substr(4)) == "STARTTLS");
    });
  }
  if (status == ReplyStatus::kLine && offered && reply.starts_with("250")) {
    status = SendCommand("STARTTLS") ? ReadReply(&reply) : ReplyStatus::kFailed;
    if (status == ReplyStatus::kLine && reply.starts_with("220")) return connection_.Secure(log_);
  }
  if (status == ReplyStatus::kLine) {
    channel_.SetConnectError({ConnectFailure::kStartTlsNotOffered, offered ? reply : ""});
  } else {
    channel_.SetConnectError({ConnectFailure::kNetwork, "no reply"});
  }
  return false;
}

bool SmtpSession::SmtpGreet(std::string_view helo_domain, std::string* reply) {
  if (!greeting_pending_) return true;
  bool authenticate = !IsNoAuthenticationUser(account_.User);
  std::string command = (authenticate ? "EHLO " : "HELO ") + std::string(helo_domain);
  state_.SentBytes += helo_domain.size() + 6;
  std::string mechanisms;
  ReplyStatus status = ReplyStatus::kFailed;
  if (SendCommand(command)) {
    ReplyLog reply_log(log_);
    status = ReadMultiLine("250-", reply, [&](const std::string& line) {
      if (!line.starts_with("250")) return;
      reply_log.Line(LogLevel::kTrace, line);
      if (authenticate) mechanisms += OfferedMechanisms(line);
    });
    reply_log.End();
  }
  if (status == ReplyStatus::kFailed) {
    *reply = "   ";
    greeting_pending_ = true;
    return false;
  }
  if (!reply->starts_with("250")) {
    if (authenticate) {
      log_.Write(LogLevel::kDataError, *reply);
      state_.SmtpInfoField.Set("No Authentfication implemented");
    }
    return false;
  }
  if (authenticate && !SmtpAuthenticate(mechanisms)) return false;
  greeting_pending_ = false;
  return true;
}

bool SmtpSession::SmtpAuthenticate(std::string_view mechanisms) {
  const std::string& user = account_.User;
  const std::string& password = account_.Password;
  if (!warned_plain_password_ && connection_.ExposesSecrets()) {
    log_.Write(LogLevel::kDataError, "Password sent without TLS to " + account_.Server);
    warned_plain_password_ = true;
  }
  // PLAIN wins whenever the server offers it.
  if (mechanisms.find("PLAIN") != std::string_view::npos) {
    std::string credentials = std::string(1, '\0') + user + std::string(1, '\0') + password;
    const AuthStep steps[] = {
        {"Sending AUTH PLAIN", "Authentification for " + user, "AUTH PLAIN", "334",
         "Authenfication not supported"},
        {"Sending Username/Password", "Sending Username/Password", Base64Encode(credentials),
         "235", "No Permission, wrong Username/Password"},
    };
    return RunAuthSteps(steps, std::size(steps));
  }
  if (mechanisms.find("LOGIN") != std::string_view::npos) {
    const AuthStep steps[] = {
        {"Sending AUTH LOGIN", "Authentification for " + user, "AUTH LOGIN", "334",
         "Authenfication not supported"},
        {"Sending Username", "Sending Username", Base64Encode(user), "334",
         "No Permission, wrong User"},
        {"Sending Password", "Sending Password", Base64Encode(password), "235",
         "No Permission, wrong Password"},
    };
    return RunAuthSteps(steps, std::size(steps));
  }
  return false;
}

bool SmtpSession::RunAuthSteps(const AuthStep* steps, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const AuthStep& step = steps[i];
    log_.Write(LogLevel::kSetUp, step.log);
    state_.SmtpSentRcvdField.Set(step.field);
    std::string reply;
    if (!SendCommand(step.line)) return false;
    if (ReadReply(&reply) == ReplyStatus::kFailed) return false;
    if (!reply.starts_with(step.code)) {
      log_.Write(LogLevel::kDataError, reply);
      state_.SmtpInfoField.Set(step.refusal);
      state_.SmtpErrorFlag = true;
      return false;
    }
  }
  log_.Write(LogLevel::kConnection, "SMTP Authentification etablished");
  state_.SmtpConnected = true;
  return true;
}

bool SmtpSession::SmtpQuit() {
  state_.SmtpSentRcvdField.Set("Quit");
  std::string reply;
  ReplyStatus status = SendCommand("QUIT") ? ReadReply(&reply) : ReplyStatus::kFailed;
  bool answered = status != ReplyStatus::kFailed && reply.starts_with("221");
  if (answered) {
    state_.SmtpInfoField.Set("Disconnected");
  } else if (status != ReplyStatus::kFailed) {
    // Any other answer, or a server that just closed: the run reports it.
    state_.SmtpErrorFlag = true;
  }
  CloseConnection();
  return answered;
}

bool SmtpSession::SendCommand(std::string_view line) {
  if (given_up_ || !channel_.WriteLine(line)) {
    NoteSendFailure();
    broken_ = true;
  }
  awaiting_reply_ = true;
  return !broken_;
}

bool SmtpSession::SendRaw(std::string_view bytes) {
  if (given_up_ || !channel_.WriteRaw(bytes)) {
    NoteSendFailure();
    broken_ = true;
  }
  awaiting_reply_ = true;
  return !broken_;
}

void SmtpSession::BeginData() { data_bound_->BeginData(account_.TimeOut * 1000); }

void SmtpSession::NoteSendFailure() {
  if (given_up_ || !data_bound_->BoundHit()) return;
  GiveUp("Message data not taken within " + std::to_string(data_bound_->AllowedSeconds()) +
         " seconds, connection given up");
}

ReplyStatus SmtpSession::ReadReply(std::string* line) {
  data_bound_->EndData();
  if (given_up_) {
    line->clear();
    broken_ = true;
    return ReplyStatus::kFailed;
  }
  const auto start = std::chrono::steady_clock::now();
  const ReadResult result = channel_.ReadReplyLine(line);
  if (HasText(result)) {
    ChargeReply(MillisecondsSince(start), awaiting_reply_);
    awaiting_reply_ = false;
    return ReplyStatus::kLine;
  }
  broken_ = true;
  return result == ReadResult::kClosed ? ReplyStatus::kClosed : ReplyStatus::kFailed;
}

void SmtpSession::ChargeReply(std::int64_t ms, bool begins_reply) {
  if (given_up_ || reply_reserve_.Took(ms, begins_reply)) return;
  GiveUp("Replies too slow (more than " + std::to_string(reply_reserve_.ReserveSeconds()) +
         " seconds late in all), connection given up");
}

void SmtpSession::GiveUp(const std::string& why) {
  given_up_ = true;
  broken_ = true;
  state_.SmtpErrorFlag = true;
  log_.Write(LogLevel::kFailure, why);
}

void SmtpSession::CloseConnection() {
  if (!open_) return;
  connection_.Close();
  open_ = false;
  state_.SmtpConnected = false;
}

void SmtpSession::AbandonConnection() {
  abandoned_ = true;
  CloseConnection();
}

}  // namespace postil
