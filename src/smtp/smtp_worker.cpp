#include "smtp/smtp_worker.h"

#include <exception>
#include <string>

#include "config/accounts.h"
#include "config/config.h"
#include "core/run_state.h"
#include "platform/files.h"
#include "smtp/outgoing_spool.h"
#include "smtp/smtp_session.h"

namespace postil {
namespace {

constexpr int kAfterPopPollMs = 10;

// A file abandoned halfway costs its connection, and the files after it get
// a new one. A server's turn opens at most this many, so a directory full
// of broken files cannot keep the worker connecting for long.
constexpr int kMaxConnectionsPerServer = 10;

// One connection: the files not tried yet, then QUIT. True when a file was
// abandoned on it, so that the files after it need a new connection.
bool ServeConnection(RunState& state, const Config& config, const SmtpAccount& account,
                     TriedFiles* tried, SpoolRewriter& rewriter) {
  SmtpSession session(state, config, account);
  if (!session.SmtpConnect()) {
    state.SmtpInfoField.Set("not reachable");
    session.log().Write(LogLevel::kFailure, "SMTP Server " + account.Server + " not reachable");
    return false;
  }
  SendSpoolDirectory(session, tried, rewriter);
  session.SmtpQuit();
  session.log().Write(LogLevel::kConnection, "SMTP to " + account.Server + " disconnected");
  return session.Abandoned();
}

void ServeServer(RunState& state, const Config& config, const SmtpAccount& account, Logger log,
                 SpoolRewriter& rewriter) {
  state.SmtpServerName.Set(account.Server);
  std::string dir = account.SpoolDir.substr(0, account.SpoolDir.size() - 1);
  if (!platform::DirectoryExists(dir)) {
    log.Write(LogLevel::kProgress, "Creating directory: " + account.SpoolDir);
    platform::MakeDirectory(dir);
  }
  if (platform::FindFiles(account.SpoolDir, "M????.OUT").empty()) {
    // "*.EML" files alone never open a connection.
    log.Write(LogLevel::kStatistics, "SMTP Nothing to send to " + account.Server);
    state.SmtpInfoField.Set("Nothing to do ...");
    return;
  }
  if (!account.Tls.problem.empty()) {
    // Said at load: the server is not used with less security than asked.
    state.SmtpInfoField.Set(kTlsSettingNotValid);
    state.SmtpErrorFlag = true;
    return;
  }
  log.Write(LogLevel::kDialogueStart, "SMTP Starting to " + account.Server);
  TriedFiles tried;
  for (int connection = 1; ServeConnection(state, config, account, &tried, rewriter);
       ++connection) {
    if (state.ExitRequested || !HasUntriedFiles(account.SpoolDir, tried)) return;
    if (connection == kMaxConnectionsPerServer) {
      log.Write(LogLevel::kFailure, "SMTP Too many abandoned Spoolfiles for " + account.Server);
      return;
    }
    log.Write(LogLevel::kDialogueStart, "SMTP Reconnecting to " + account.Server);
  }
}

}  // namespace

bool SmtpAfterPopWait(RunState& state, const Config& config) {
  if (!config.SmtpAfterPop) return true;
  // Waited for on the main thread, logged as the SMTP worker's first lines.
  const Logger log = state.log.For(LogThread::kSmtp);
  log.Write(LogLevel::kProgress, "Smtp After Pop3 enabled");
  const int time_out = config.SmtpAfterPopTimeOut;
  log.Write(LogLevel::kProgress,
            "Waiting for Pop3 Authentification, Timeout (" + std::to_string(time_out) + " sec.)");
  // The wait counts its sleeps, not the clock.
  long long elapsed = 0;
  do {
    state.SmtpInfoField.Set("Waiting for Pop3 Authentification ...");
    elapsed += kAfterPopPollMs;
    platform::SleepMilliseconds(kAfterPopPollMs);
  } while (!state.Pop3Connected && time_out * 1000LL > elapsed && !state.Pop3ErrorFlag);
  if (state.Pop3Connected) {
    const int delay = config.SmtpAfterPopDelay;
    std::string message =
        std::to_string(delay) + " second(s) delay after Pop3 Authentification ...";
    log.Write(LogLevel::kTrace, message);
    state.SmtpInfoField.Set(message);
    if (delay > 0) platform::SleepMilliseconds(delay * 1000);
    return true;
  }
  log.Write(LogLevel::kFailure, state.Pop3ErrorFlag ? "Error during Pop3 Authentification"
                                                    : "Timeout during Pop3 Authentification");
  state.SmtpErrorFlag = true;
  return false;
}

void SmtpWorker(RunState& state, const Config& config, SpoolRewriter& rewriter) {
  if (config.SmtpServer.empty() || config.SmtpServer == "disabled" || !state.SmtpEnabled) {
    state.SmtpInfoField.Set("Disabled");
    return;
  }
  const Logger log = state.log.For(LogThread::kSmtp);
  const int servers = AccountCount(config.SmtpServer);
  for (int i = 1; i <= servers; ++i) {
    try {
      ServeServer(state, config, SelectSmtpAccount(config, i), log, rewriter);
    } catch (const std::exception&) {
      // A failure nothing else caught (memory, most likely) ends this
      // server's turn only; its files stay for the next run. The session
      // let go of the kill keys' slot as it went.
      state.SmtpErrorFlag = true;
      log.Write(LogLevel::kDataError, "Runtime Error");
    }
    if (state.ExitRequested) {
      state.SmtpInfoField.Set(ExitRequestText);
      return;
    }
  }
}

}  // namespace postil
