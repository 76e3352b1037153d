#include "pop3/pop3_session.h"

#include <mutex>
#include <string>

#include "core/channel.h"
#include "core/run_state.h"
#include "platform/clock.h"
#include "pop3/pop3_reply.h"

namespace postil {
namespace {

void Fail(Pop3Context& context, std::string_view info) {
  context.state.Pop3InfoField.Set(info);
  context.state.Pop3ErrorFlag = true;
}

// The greeting is read while the state mutex is held, so a second
// connection attempt waits for it.
std::string OpenAndGreet(Pop3Context& context) {
  std::lock_guard lock(context.state.StateMutex);
  context.channel.OpenChannel(context.account.server, context.account.port,
                              context.account.time_out);
  // Attached at once, so the kill keys can cut even the wait for the greeting.
  if (context.channel.ChannelSocket() != 0) context.state.Pop3Socket.Attach(&context.channel);
  Pop3Log(context, "IP: " + context.channel.LocalIpAddress(), 255);
  platform::SleepMilliseconds(1);
  std::string greeting;
  context.channel.ReadReplyLine(&greeting);
  context.state.TotalBytes += greeting.size() + 2;
  return greeting;
}

}  // namespace

ReadResult Pop3Command(Pop3Context& context, std::string_view command, std::string* reply) {
  reply->clear();
  if (!context.channel.WriteLine(command)) return ReadResult::kFailed;
  return context.channel.ReadReplyLine(reply);
}

void ClosePop3Channel(Pop3Context& context) {
  context.state.Pop3Socket.Detach();
  context.channel.CloseChannel();
}

bool Pop3Connect(Pop3Context& context) {
  RunState& state = context.state;
  state.Pop3Connected = false;
  state.Pop3SentRcvdField.Set("");
  state.Pop3InfoField.Set("Connecting ...");
  std::string greeting = OpenAndGreet(context);
  if (IsOkReply(greeting)) {
    Pop3Log(context, greeting, 0);
    if (Pop3Login(context)) return true;
    Pop3Quit(context);
    return false;
  }
  if (greeting.empty()) {
    Fail(context, "Host not found");
    Pop3Log(context, "POP3 Server " + context.account.server + " not found", 2);
  } else {
    Pop3Log(context, greeting, 2);
    Fail(context, greeting);
  }
  ClosePop3Channel(context);
  return false;
}

bool Pop3Login(Pop3Context& context) {
  RunState& state = context.state;
  std::string reply;
  Pop3Log(context, "Sending USER", 6);
  state.Pop3SentRcvdField.Set("Authentification for " + context.account.user);
  Pop3Command(context, "USER " + context.account.user, &reply);
  if (!IsOkReply(reply)) {
    Pop3Log(context, reply, 1);
    Fail(context, "No Permission, wrong User");
    return false;
  }
  Pop3Log(context, "Sending PASS", 6);
  state.Pop3SentRcvdField.Set("Sending Password");
  Pop3Command(context, "PASS " + context.account.password, &reply);
  if (!IsOkReply(reply)) {
    Pop3Log(context, reply, 1);
    Fail(context, "No Permission, wrong Password");
    return false;
  }
  Pop3Log(context, "POP3 Connection etablished", 10);
  state.Pop3Connected = true;
  return true;
}

std::optional<std::int64_t> Pop3Stat(Pop3Context& context) {
  RunState& state = context.state;
  state.Pop3SentRcvdField.Set("Mailbox Status");
  state.Pop3InfoField.Set(" ");
  std::string reply;
  Pop3Command(context, "STAT", &reply);
  state.TotalBytes += reply.size() + 2;
  if (!IsOkReply(reply)) {
    Fail(context, "Error on receiving Mailbox Informations");
    return std::nullopt;
  }
  MailboxStatus status = ParseStatReply(reply);
  state.MailboxSize = static_cast<std::uint64_t>(status.size);
  std::string text = MailboxStatusText(status);
  state.Pop3InfoField.Set(text);
  Pop3Log(context, text, 8);
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
