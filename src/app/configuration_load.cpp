#include "app/configuration_load.h"

#include <string>

#include "config/config_loader.h"
#include "core/data_file.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "filter/killfile.h"

namespace postil {
namespace {

// The killfile is only named in box files.
void LoadKillfileSetting(RunState& state, Config* config, RuleTable* rules) {
  if (config->PPP_Killfile.empty() || !config->HostBoxMode) return;
  const Logger log = state.log.For(LogThread::kPop3);
  if (LoadKillfile(state, config->PPP_Killfile, rules)) {
    config->FilterActive = true;
    log.Write(LogLevel::kSetUp, "Loading Sortwarden Configuration");
  } else {
    log.Write(LogLevel::kSetUp, "Sortwarden Configuration not found");
  }
}

}  // namespace

void LoadConfiguration(RunState& state, std::string_view file_name, Config* config,
                       RuleTable* rules) {
  const Logger log = state.log.For(LogThread::kMain);
  platform::InputFile file;
  if (!OpenDataFile(state, &file, file_name, log)) return;
  std::string text(kConfigBytes, '\0');
  std::int64_t got = file.Read(text.data(), text.size());
  file.Close();
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);

  const bool box_mode = IsBoxFileName(file_name);
  if (box_mode) log.Write(LogLevel::kTrace, "Reading Quorvex's RFC/PPP Configuration");
  for (const std::string& note : ParseConfiguration(text, box_mode, config))
    log.Write(LogLevel::kDataError, note);

  state.Pop3SentRcvdField.Set("");
  state.Pop3InfoField.Set("");
  state.SmtpSentRcvdField.Set("");
  state.SmtpInfoField.Set("");
  state.Pop3ErrorFlag = false;
  state.SmtpErrorFlag = false;

  LoadKillfileSetting(state, config, rules);
  config->HostRelease = DetectHostRelease(state);
  config->ProductTag = config->HostRelease > 0 ? "QUIL+" : "QUIL";
}

}  // namespace postil
