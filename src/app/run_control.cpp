#include "app/run_control.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "config/config.h"
#include "app/check_command.h"
#include "app/configuration_load.h"
#include "app/program_texts.h"
#include "console/console_session.h"
#include "console/panel_texts.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "platform/files.h"
#include "pop3/pop3_stores.h"
#include "pop3/pop3_worker.h"
#include "smtp/notices.h"
#include "smtp/smtp_worker.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr int kStartPauseMs = 20;
constexpr int kPollIntervalMs = 100;

// A worker thread with the "still running" flag it clears as its last act.
class WorkerThread {
 public:
  template <typename Body>
  void Start(Body body) {
    running_ = true;
    thread_ = std::thread([this, body] {
      body();
      running_ = false;
    });
  }
  bool Running() const { return running_; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> running_{false};
  std::thread thread_;
};

std::string FirstWord(std::string_view tail) {
  std::size_t start = tail.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  return std::string(tail.substr(start, tail.find(' ', start) - start));
}

void ApplySwitches(RunState& state, std::string_view tail) {
  std::string upper = UpperCase(tail);
  if (upper.find("/NOPOP3") != std::string::npos) state.Pop3Enabled = false;
  if (upper.find("/OPENPOP3ONLY") != std::string::npos) state.OpenPop3Only = true;
  if (upper.find("/NOSMTP") != std::string::npos) state.SmtpEnabled = false;
}

// Start-up steps 13 to 18, the run loop and shut-down steps 1 to 6.
void RunThreads(RunState& state, const Config& config, const RuleTable& rules,
                ConsoleSession& console) {
  console.SaveScreen();
  std::thread screen([&] { console.StatusScreenThread(config); });
  platform::SleepMilliseconds(kStartPauseMs);

  Pop3Stores stores;
  stores.LoadDupebase(state);
  stores.OpenRequestbase(state, config);

  WorkerThread pop3;
  WorkerThread smtp;
  pop3.Start([&] { Pop3Worker(state, config, rules, stores); });
  platform::SleepMilliseconds(kStartPauseMs);
  if (SmtpAfterPopWait(state, config)) smtp.Start([&] { SmtpWorker(state, config); });

  while (pop3.Running() || smtp.Running()) platform::SleepMilliseconds(kPollIntervalMs);
  pop3.Join();
  smtp.Join();

  std::string rate = TransferRateText(state);
  rate.erase(0, rate.find_first_not_of(' '));
  stores.SaveDupebase(state);
  stores.CloseRequestbase(state);
  state.ScreenStopRequest = true;
  while (!state.ScreenStopped) platform::SleepMilliseconds(1);
  screen.join();
  console.RestoreScreen();

  const Logger log = state.log.For(LogThread::kMain);
  log.Write(LogLevel::kProgress, rate.empty() ? std::string("No Cps-Info available") : rate);
  log.Write(LogLevel::kProgress, "END");
}

// --help, --version and --check: answered before a run's start-up, so no
// log is opened and the console is left alone. Nothing for a run.
std::optional<int> RunCommandOption(std::string_view tail, std::ostream& out,
                                    const platform::Clock& clock) {
  const std::string option = FirstWord(tail);
  if (option == "--help" || option == "-h") {
    PrintBanner(out);
    PrintUsage(out);
    PrintOptions(out);
    return 0;
  }
  if (option == "--version") {
    out << VersionText();
    return 0;
  }
  if (option != "--check") return std::nullopt;
  std::string_view rest = tail.substr(tail.find("--check") + option.size());
  const std::string file_name = FirstWord(rest);
  if (file_name.empty()) {
    out << "Usage: POSTIL --check <Configuration file>\n";
    return 1;
  }
  return RunConfigurationCheck(file_name, out, clock);
}

bool IsUsageRequest(std::string_view tail) {
  return FirstWord(tail).empty() || tail.find('?') != std::string_view::npos;
}

}  // namespace

int ExitCode(bool pop3_error, bool smtp_error) {
  return (pop3_error ? 1 : 0) + (smtp_error ? 2 : 0);
}

int RunPostil(std::string_view command_tail, std::ostream& out, const platform::Clock& clock) {
  if (!IsUsageRequest(command_tail)) {
    if (std::optional<int> code = RunCommandOption(command_tail, out, clock)) return *code;
  }
  RunState state(clock);
  ConsoleSession console(state);
  console.DiscardKeys();
  console.SetTitle(std::string(ProgramName) + std::string(ProgramVersion));
  PrintBanner(out);
  if (IsUsageRequest(command_tail)) {
    PrintUsage(out);
    return 0;
  }
  ApplySwitches(state, command_tail);
  std::string config_name = FirstWord(command_tail);
  state.log.SetupLog(HostLogDirectory());
  const Logger log = state.log.For(LogThread::kMain);

  Config config;
  RuleTable rules;
  if (platform::FileExists("ZDial.No")) {
    log.Write(LogLevel::kProgress, "no active connection!");
  } else if (!platform::FileExists(config_name)) {
    out << "\n" << "Error: Configurationfile '" << config_name << "' not found!\n";
    log.Write(LogLevel::kDataError,
              std::string(ProgramName) + "Error: '" + config_name + "' not found!");
    log.Write(LogLevel::kProgress, "END");
  } else {
    LoadConfiguration(state, config_name, &config, &rules);
    RunThreads(state, config, rules, console);
  }

  state.log.CloseLogs();
  console.DiscardKeys();
  int code = ExitCode(state.Pop3ErrorFlag, state.SmtpErrorFlag);
  if (code > 0) {
    if (!config.HostBoxMode) WriteOutdatedHostNotice(state, config);
    if (config.HostRelease == 0) WriteConfigurationNotice(state, config);
  }
  return code;
}

}  // namespace postil
