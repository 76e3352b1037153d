#include "config/config_loader.h"

#include <array>
#include <string>

#include "config/accounts.h"
#include "config/data_file.h"
#include "config/lookup_setting.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "filter/killfile.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

// Only the start of the configuration file is ever looked at.
constexpr std::size_t kConfigBytes = 8012;

enum class Style { kAny, kBoxFileOnly };

struct TextSetting {
  std::string_view name;
  std::string Config::*member;
  std::string_view default_value;
  Style style;
};

// The text settings in the order they are looked up.
const std::array<TextSetting, 21> kTextSettings = {{
    {"Pop3Server", &Config::Pop3Server, "", Style::kAny},
    {"Pop3User", &Config::Pop3User, "", Style::kAny},
    {"Pop3Pass", &Config::Pop3Pass, "", Style::kAny},
    {"Pop3Port", &Config::Pop3Port, "110", Style::kAny},
    {"Pop3Spool", &Config::Pop3Spool, "SPOOL", Style::kAny},
    {"Pop3TimeOut", &Config::Pop3TimeOut, "15", Style::kAny},
    {"Pop3Envelope", &Config::Pop3Envelope, kDefaultPop3Envelope, Style::kAny},
    {"Pop3UseEnvelope", &Config::Pop3UseEnvelope, "disabled", Style::kAny},
    {"Pop3Keep", &Config::Pop3Keep, "", Style::kAny},
    {"Pop3MaxLen", &Config::Pop3MaxLen, "5000000", Style::kAny},
    {"Pop3ReportInfo", &Config::Pop3ReportInfo, "/\xAFQUIL", Style::kAny},
    {"SmtpServer", &Config::SmtpServer, "", Style::kAny},
    {"SmtpUser", &Config::SmtpUser, "", Style::kBoxFileOnly},
    {"SmtpPass", &Config::SmtpPass, "", Style::kBoxFileOnly},
    {"SmtpPort", &Config::SmtpPort, "25", Style::kAny},
    {"SmtpSpool", &Config::SmtpSpool, "SPOOL", Style::kAny},
    {"SmtpTimeOut", &Config::SmtpTimeOut, "15", Style::kAny},
    {"SmtpBurst", &Config::SmtpBurst, "enabled", Style::kAny},
    {"SmtpEnvelope", &Config::SmtpEnvelope, "", Style::kAny},
    {"SmtpRedirect", &Config::SmtpRedirect, "", Style::kAny},
    {"SmtpReportInfo", &Config::SmtpReportInfo, "/\xAFQUIL", Style::kAny},
}};

struct RangeCheck {
  std::string Config::*member;
  std::string_view name;
  long long min;
  long long max;
};

const std::array<RangeCheck, 5> kRangeChecks = {{
    {&Config::Pop3Port, "Pop3Port", 0, kMaxPort},
    {&Config::Pop3TimeOut, "Pop3TimeOut", 0, kMaxTimeOut},
    {&Config::Pop3MaxLen, "Pop3MaxLen", kMinMaxLen, kMaxMaxLen},
    {&Config::SmtpPort, "SmtpPort", 0, kMaxPort},
    {&Config::SmtpTimeOut, "SmtpTimeOut", 0, kMaxTimeOut},
}};

bool IsBoxFileName(std::string_view file_name) {
  std::size_t first_dot = file_name.find('.');
  if (first_dot == std::string_view::npos) return false;
  std::string_view second = file_name.substr(first_dot + 1);
  return UpperCase(second.substr(0, second.find('.'))) == "BFG";
}

std::string Lookup(std::string_view text, std::string_view name, std::string_view default_value,
                   bool box_file) {
  std::string key = "$" + std::string(name) + "=";
  return LookupSetting(text, key, default_value, box_file);
}

// A number that does not fit its setting would wrap into another port or
// time-out; say so once, the account then uses the setting's default.
void ReportOutOfRange(RunState& state, const Config& config) {
  for (const RangeCheck& check : kRangeChecks) {
    const std::string& list = config.*check.member;
    for (int i = 1; i <= AccountCount(list); ++i) {
      std::string word = AccountWord(list, i, Fallback::kNone);
      double value = NumericValue(word);
      if (value < static_cast<double>(check.min) || value > static_cast<double>(check.max))
        state.log.WriteLog("Configuration: " + std::string(check.name) + " value " + word +
                               " out of range, default used",
                           kMainThread, 1);
    }
  }
}

int SmallNumber(RunState& state, std::string_view name, const std::string& text, int fallback) {
  double value = NumericValue(text);
  if (value >= -32768 && value <= 32767) return static_cast<int>(value);
  state.log.WriteLog("Configuration: " + std::string(name) + " value " + text +
                         " out of range, default used",
                     kMainThread, 1);
  return fallback;
}

void LoadKillfileSetting(RunState& state, Config* config) {
  if (config->PPP_Killfile.empty() || !config->HostBoxMode) return;
  if (LoadKillfile(state, config->PPP_Killfile, &config->Rules)) {
    config->FilterActive = true;
    state.log.WriteLog("Loading Sortwarden Configuration", kPop3Thread, 6);
  } else {
    state.log.WriteLog("Sortwarden Configuration not found", kPop3Thread, 6);
  }
}

}  // namespace

void LoadConfiguration(RunState& state, std::string_view file_name, Config* config) {
  platform::InputFile file;
  if (!OpenDataFile(state, &file, file_name, kMainThread)) return;
  std::string text(kConfigBytes, '\0');
  std::int64_t got = file.Read(text.data(), text.size());
  file.Close();
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  text += "\r\n";

  config->HostBoxMode = IsBoxFileName(file_name);
  if (config->HostBoxMode)
    state.log.WriteLog("Reading Quorvex's RFC/PPP Configuration", kMainThread, 255);

  for (const TextSetting& setting : kTextSettings) {
    if (setting.style == Style::kBoxFileOnly && !config->HostBoxMode) continue;
    config->*setting.member = Lookup(text, setting.name, setting.default_value, config->HostBoxMode);
  }
  config->SmtpAfterPop = IsYesWord(Lookup(text, "SmtpAfterPop", "", config->HostBoxMode));
  config->SmtpAfterPopTimeOut = SmallNumber(
      state, "SmtpAfterPopTimeOut", Lookup(text, "SmtpAfterPopTimeOut", "10", config->HostBoxMode), 10);
  config->SmtpAfterPopDelay = SmallNumber(
      state, "SmtpAfterPopDelay", Lookup(text, "SmtpAfterPopDelay", "1", config->HostBoxMode), 1);
  ReportOutOfRange(state, *config);

  state.Pop3SentRcvdField.Set("");
  state.Pop3InfoField.Set("");
  state.SmtpSentRcvdField.Set("");
  state.SmtpInfoField.Set("");
  state.Pop3ErrorFlag = false;
  state.SmtpErrorFlag = false;

  config->PPP_Killfile = Lookup(text, "PPP_Killfile", "", config->HostBoxMode);
  LoadKillfileSetting(state, config);

  config->HostRelease = DetectHostRelease(state);
  config->ProductTag = config->HostRelease > 0 ? "QUIL+" : "QUIL";
}

}  // namespace postil
