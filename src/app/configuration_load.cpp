#include "app/configuration_load.h"

#include <string>

#include "config/config_loader.h"
#include "core/data_file.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "filter/killfile.h"

namespace postil {
namespace {

// The settings come from the first kConfigBytes only; the review looks
// further, to say which keys lie beyond them.
constexpr std::size_t kReviewedBytes = 64 * 1024;

// The killfile is only named in box files.
KillfileLoad LoadKillfileSetting(RunState& state, Config* config, RuleTable* rules) {
  if (config->PPP_Killfile.empty() || !config->HostBoxMode) return KillfileLoad::kNotNamed;
  const Logger log = state.log.For(LogThread::kPop3);
  if (LoadKillfile(state, config->PPP_Killfile, rules)) {
    config->FilterActive = true;
    log.Write(LogLevel::kSetUp, "Loading Sortwarden Configuration");
    return KillfileLoad::kLoaded;
  }
  log.Write(LogLevel::kSetUp, "Sortwarden Configuration not found");
  return KillfileLoad::kFailed;
}

}  // namespace

ConfigurationLoad LoadConfiguration(RunState& state, std::string_view file_name, Config* config,
                                    RuleTable* rules) {
  const Logger log = state.log.For(LogThread::kMain);
  ConfigurationLoad load;
  platform::InputFile file;
  if (!OpenDataFile(state, &file, file_name, log)) return load;
  load.opened = true;
  std::string text;
  file.ReadUpTo(kReviewedBytes, &text);
  file.Close();

  const bool box_mode = IsBoxFileName(file_name);
  if (box_mode) log.Write(LogLevel::kTrace, "Reading Quorvex's RFC/PPP Configuration");
  load.notes = ParseConfiguration(text, box_mode, config);
  load.review = ReviewConfiguration(text, box_mode, *config);
  for (const std::string& note : load.notes) log.Write(LogLevel::kDataError, note);
  for (const std::string& problem : load.review.problems) log.Write(LogLevel::kDataError, problem);

  state.Pop3SentRcvdField.Set("");
  state.Pop3InfoField.Set("");
  state.SmtpSentRcvdField.Set("");
  state.SmtpInfoField.Set("");
  state.Pop3ErrorFlag = false;
  state.SmtpErrorFlag = false;

  load.killfile = LoadKillfileSetting(state, config, rules);
  config->HostRelease = DetectHostRelease(state);
  config->ProductTag = config->HostRelease > 0 ? "QUIL+" : "QUIL";
  return load;
}

}  // namespace postil
