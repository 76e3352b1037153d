#include "pop3/pop3_worker.h"

#include <exception>

#include "config/accounts.h"
#include "config/config.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "platform/files.h"
#include "pop3/message_scan.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_reply.h"
#include "pop3/pop3_session.h"
#include "pop3/pop3_stores.h"

namespace postil {
namespace {

void PrepareSpoolDirectory(const Pop3Account& account, Logger log) {
  const std::string& dir = account.spool_dir;
  std::string path = dir.substr(0, dir.size() - 1);
  if (platform::FileExists(path) || platform::DirectoryExists(path)) return;
  log.Write(LogLevel::kProgress, "Creating directory: " + dir);
  // A failure shows up as a spool file error later.
  platform::MakeDirectory(path);
}

// The result of the last message scanned: kChannelFailure when the
// connection can no longer be trusted.
ScanResult ScanMailbox(Pop3Context& context, std::int64_t count) {
  RunState& state = context.state;
  for (std::int64_t m = 1; m <= count; ++m) {
    state.Pop3SentRcvdField.Set("Scanning Message" + Str(m) + " (of" + Str(count) + " Messages)");
    ScanResult result = ScanMessage(context, static_cast<int>(m));
    if (state.ExitRequested) {
      state.Pop3InfoField.Set(ExitRequestText);
      return result;
    }
    // After a failed connection its state is unknown: asking it for further
    // messages would wait out the time-out for each, or read the rest of an
    // earlier reply as the next one.
    if (result != ScanResult::kGoOn) return result;
  }
  return ScanResult::kGoOn;
}

// The deletions take effect at QUIT, so the session's files get their
// names only right before it, once they are durable, and only over a
// connection still in step. Otherwise the connection is closed without
// QUIT: the server keeps every message and no file of the session is
// imported. What is left open: a cut between the naming and the server's
// taking QUIT, which leaves the files named and the messages on the server.
void EndSession(Pop3Context& context, ScanResult last) {
  if (last != ScanResult::kChannelFailure && CommitPending(context)) {
    if (Pop3Quit(context)) MarkDeletionsServed(context);
  } else {
    DiscardPending(context);
    ClosePop3Channel(context);
  }
}

void ServeAccount(RunState& state, const Config& config, const RuleTable& rules, Pop3Stores& stores,
                  platform::DiskSync& disk, Logger log, int account_number) {
  Pop3Account account = SelectPop3Account(config, account_number);
  WorkerConnection connection(state.Pop3Socket);
  Channel& channel = connection.channel();
  channel.SetBoundNotice(
      [log](std::int64_t seconds) { log.Write(LogLevel::kFailure, ExchangeBoundText(seconds)); });
  state.Pop3ServerName.Set(account.server);
  state.KeepOnServerMark = account.keep_on_server;
  if (!account.tls.problem.empty()) {
    // Said at load: the account is not served with less security than asked.
    state.Pop3InfoField.Set(kTlsSettingNotValid);
    state.Pop3ErrorFlag = true;
    return;
  }
  state.InboundSpoolDir.Set(account.spool_dir);
  PrepareSpoolDirectory(account, log);
  Pop3Pending pending(state, account, disk, log, stores.dupebase.Mark());
  Pop3Context context{state, config, rules, account, stores, connection, channel, log, pending};
  state.MailboxSize = 0;
  state.MessageSize = 0;
  state.MessageBytesReceived = 0;
  context.log.Write(LogLevel::kDialogueStart, "POP3 Starting to " + account.server);
  if (!Pop3Connect(context)) return;
  std::optional<std::int64_t> count = Pop3Stat(context);
  ScanResult last = ScanResult::kGoOn;
  if (count && !state.OpenPop3Only) last = ScanMailbox(context, *count);
  EndSession(context, last);
  state.Pop3InfoField.Set("Disconnected");
  context.log.Write(LogLevel::kConnection, "POP3 to " + account.server + " disconnected");
}

}  // namespace

void Pop3Worker(RunState& state, const Config& config, const RuleTable& rules, Pop3Stores& stores,
                platform::DiskSync& disk) {
  if (config.Pop3Server.empty() || config.Pop3Server == "disabled" || !state.Pop3Enabled) {
    state.Pop3InfoField.Set("Disabled");
    return;
  }
  const Logger log = state.log.For(LogThread::kPop3);
  const int accounts = AccountCount(config.Pop3Server);
  for (int i = 1; i <= accounts; ++i) {
    try {
      ServeAccount(state, config, rules, stores, disk, log, i);
    } catch (const std::exception&) {
      // A failure nothing else caught (memory, most likely) ends this
      // account only; what was not fetched stays on the server.
      state.Pop3ErrorFlag = true;
      log.Write(LogLevel::kDataError, "Runtime Error");
    }
    if (state.ExitRequested) {
      state.Pop3InfoField.Set(ExitRequestText);
      return;
    }
  }
}

}  // namespace postil
