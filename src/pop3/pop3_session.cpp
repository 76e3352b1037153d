#include "pop3/pop3_session.h"

#include <string>

#include "config/config.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "platform/clock.h"
#include "pop3/pop3_reply.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

void Fail(Pop3Context& context, std::string_view info) {
  context.state.Pop3InfoField.Set(info);
  context.state.Pop3ErrorFlag = true;
}

// The greeting is read while the state mutex is held, so a second
// connection attempt waits for it.
std::string OpenAndGreet(Pop3Context& context) {
  std::string greeting;
  const Pop3Account& account = context.account;
  const ConnectionTarget target = MakeConnectionTarget(account.server, account.port, account.time_out,
                                                       account.tls, context.config.TlsCaFile);
  context.connection.OpenAndGreet(context.state, context.log, target,
                                  [&greeting](Channel& channel) { channel.ReadReplyLine(&greeting); });
  context.state.TotalBytes += greeting.size() + 2;
  return greeting;
}

// The capability list after "+OK" names STLS; at most kMaxCapabilities
// lines are looked at.
bool OffersStls(Pop3Context& context) {
  constexpr int kMaxCapabilities = 100;
  std::string line;
  if (Pop3Command(context, "CAPA", &line) != ReadResult::kLine || !IsOkReply(line)) return false;
  bool offered = false;
  for (int count = 0; count < kMaxCapabilities; ++count) {
    if (context.channel.ReadReplyLine(&line) != ReadResult::kLine || line == ".") return offered;
    offered = offered || UpperCase(line.substr(0, line.find(' '))) == "STLS";
  }
  return false;
}

// STLS after the greeting: nothing secret is sent before it succeeds.
bool StartTls(Pop3Context& context) {
  std::string reply;
  if (!OffersStls(context)) {
    context.channel.SetConnectError({ConnectFailure::kStartTlsNotOffered, ""});
    return false;
  }
  if (Pop3Command(context, "STLS", &reply) != ReadResult::kLine || !IsOkReply(reply)) {
    context.channel.SetConnectError({ConnectFailure::kStartTlsNotOffered, reply});
    return false;
  }
  return context.connection.Secure(context.log);
}

}  // namespace

ReadResult Pop3Command(Pop3Context& context, std::string_view command, std::string* reply) {
  reply->clear();
  if (!context.channel.WriteLine(command)) return ReadResult::kFailed;
  return context.channel.ReadReplyLine(reply);
}

void ClosePop3Channel(Pop3Context& context) { context.connection.Close(); }

bool Pop3Connect(Pop3Context& context) {
  RunState& state = context.state;
  state.Pop3Connected = false;
  state.Pop3SentRcvdField.Set("");
  state.Pop3InfoField.Set("Connecting ...");
  std::string greeting = OpenAndGreet(context);
  if (IsOkReply(greeting)) {
    context.log.Write(LogLevel::kProgress, greeting);
    if (context.account.tls.mode == TlsMode::kStartTls && !StartTls(context)) {
      context.log.Write(LogLevel::kFailure, context.connection.FailureText());
      Fail(context, context.connection.FailureCause());
      ClosePop3Channel(context);
      return false;
    }
    if (Pop3Login(context)) return true;
    Pop3Quit(context);
    return false;
  }
  if (greeting.empty()) {
    Fail(context, "Host not found");
    context.log.Write(LogLevel::kFailure, "POP3 Server " + context.account.server + " not found");
    context.log.Write(LogLevel::kFailure, context.connection.FailureText());
  } else {
    context.log.Write(LogLevel::kFailure, greeting);
    // The other protocol's greeting means the port is wrong, not the server.
    if (greeting.starts_with("220")) {
      context.log.Write(LogLevel::kFailure,
                        "POP3 Server " + context.account.server + " port " +
                            std::to_string(context.account.port) +
                            " answered like an SMTP server: check Pop3Port (110, or 995 for TLS)");
    }
    Fail(context, greeting);
  }
  ClosePop3Channel(context);
  return false;
}

bool Pop3Login(Pop3Context& context) {
  const Pop3Account& account = context.account;
  const struct {
    std::string_view log;
    std::string field;
    std::string command;
    std::string_view refusal;  // Pop3InfoField when the reply is not +OK
  } steps[] = {
      {"Sending USER", "Authentification for " + account.user, "USER " + account.user,
       "No Permission, wrong User"},
      {"Sending PASS", "Sending Password", "PASS " + account.password,
       "No Permission, wrong Password"},
  };
  if (context.connection.ExposesSecrets())
    context.log.Write(LogLevel::kDataError, "Password sent without TLS to " + account.server);
  std::string reply;
  for (const auto& step : steps) {
    context.log.Write(LogLevel::kSetUp, step.log);
    context.state.Pop3SentRcvdField.Set(step.field);
    Pop3Command(context, step.command, &reply);
    if (!IsOkReply(reply)) {
      context.log.Write(LogLevel::kDataError, reply);
      Fail(context, step.refusal);
      return false;
    }
  }
  context.log.Write(LogLevel::kConnection, "POP3 Connection etablished");
  context.state.Pop3Connected = true;
  return true;
}

std::optional<std::int64_t> Pop3Stat(Pop3Context& context) {
  RunState& state = context.state;
  state.Pop3SentRcvdField.Set("Mailbox Status");
  state.Pop3InfoField.Set(" ");
  std::string reply;
  Pop3Command(context, "STAT", &reply);
  state.TotalBytes += reply.size() + 2;
  std::optional<MailboxStatus> parsed;
  if (IsOkReply(reply)) {
    parsed = ParseStatReply(reply);
    if (!parsed) context.log.Write(LogLevel::kFailure, reply);
  }
  if (!parsed) {
    Fail(context, "Error on receiving Mailbox Informations");
    return std::nullopt;
  }
  const MailboxStatus& status = *parsed;
  state.MailboxSize = static_cast<std::uint64_t>(status.size);
  std::string text = MailboxStatusText(status);
  state.Pop3InfoField.Set(text);
  context.log.Write(LogLevel::kStatistics, text);
  return status.count;
}

bool Pop3Quit(Pop3Context& context) {
  RunState& state = context.state;
  state.Pop3SentRcvdField.Set("Quit");
  std::string reply;
  Pop3Command(context, "QUIT", &reply);
  state.TotalBytes += reply.size() + 2;
  bool ok = IsOkReply(reply);
  if (ok) {
    state.Pop3Connected = false;
    state.Pop3InfoField.Set("Disconnected");
  } else {
    state.Pop3ErrorFlag = true;
  }
  ClosePop3Channel(context);
  return ok;
}

}  // namespace postil
