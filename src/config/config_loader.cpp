#include "config/config_loader.h"

#include <array>
#include <string>
#include <vector>

#include "config/accounts.h"
#include "config/lookup_setting.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

enum class Style { kAny, kBoxFileOnly };

struct TextSetting {
  std::string_view name;
  std::string Config::*member;
  std::string_view default_value;
  Style style;
};

// The text settings in the order they are looked up.
const std::array<TextSetting, 26> kTextSettings = {{
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
    {"Pop3Tls", &Config::Pop3Tls, "", Style::kAny},
    {"Pop3TlsFingerprint", &Config::Pop3TlsFingerprint, "", Style::kAny},
    {"SmtpTls", &Config::SmtpTls, "", Style::kAny},
    {"SmtpTlsFingerprint", &Config::SmtpTlsFingerprint, "", Style::kAny},
    {"TlsCaFile", &Config::TlsCaFile, "", Style::kAny},
}};

// The keys read apart from the text settings, converted or used by the run
// control.
constexpr std::string_view kSmtpAfterPop = "SmtpAfterPop";
constexpr std::string_view kSmtpAfterPopTimeOut = "SmtpAfterPopTimeOut";
constexpr std::string_view kSmtpAfterPopDelay = "SmtpAfterPopDelay";
constexpr std::string_view kPppKillfile = "PPP_Killfile";

const std::array<NumberSetting, 5> kNumberSettings = {{
    {&Config::Pop3Port, "Pop3Port", 0, kMaxPort},
    {&Config::Pop3TimeOut, "Pop3TimeOut", 0, kMaxTimeOut},
    {&Config::Pop3MaxLen, "Pop3MaxLen", kMinMaxLen, kMaxMaxLen},
    {&Config::SmtpPort, "SmtpPort", 0, kMaxPort},
    {&Config::SmtpTimeOut, "SmtpTimeOut", 0, kMaxTimeOut},
}};

std::string Lookup(std::string_view text, std::string_view name, std::string_view default_value,
                   bool box_file) {
  std::string key = "$" + std::string(name) + "=";
  return LookupSetting(text, key, default_value, box_file);
}

std::string OutOfRangeText(std::string_view name, std::string_view value) {
  return "Configuration: " + std::string(name) + " value " + std::string(value) +
         " out of range, default used";
}

// A number that does not fit its setting would wrap into another port or
// time-out; say so once, the account then uses the setting's default.
void ReportOutOfRange(const Config& config, std::vector<std::string>* notes) {
  for (const NumberSetting& check : kNumberSettings) {
    const std::string& list = config.*check.member;
    for (int i = 1; i <= AccountCount(list); ++i) {
      std::string word = AccountWord(list, i, Fallback::kNone);
      double value = NumericValue(word);
      if (value < static_cast<double>(check.min) || value > static_cast<double>(check.max))
        notes->push_back(OutOfRangeText(check.name, word));
    }
  }
}

// An account whose TLS words are not understood is not served; say why once.
// A switched-off worker serves nothing, so it has nothing to say.
template <typename SelectTls>
void ReportTlsProblems(std::string_view side, const std::string& servers, SelectTls select_tls,
                       std::vector<std::string>* notes) {
  if (servers.empty() || servers == "disabled") return;
  for (int i = 1; i <= AccountCount(servers); ++i) {
    const AccountTls tls = select_tls(i);
    if (tls.problem.empty()) continue;
    notes->push_back("Configuration: " + tls.problem + ", " + std::string(side) + " account " +
                     std::to_string(i) + " not served");
  }
}

int SmallNumber(std::string_view name, const std::string& text, int fallback,
                std::vector<std::string>* notes) {
  double value = NumericValue(text);
  if (value >= -32768 && value <= 32767) return static_cast<int>(value);
  notes->push_back(OutOfRangeText(name, text));
  return fallback;
}

}  // namespace

bool IsBoxFileName(std::string_view file_name) {
  std::size_t first_dot = file_name.find('.');
  if (first_dot == std::string_view::npos) return false;
  std::string_view second = file_name.substr(first_dot + 1);
  return UpperCase(second.substr(0, second.find('.'))) == "BFG";
}

std::vector<std::string> ParseConfiguration(std::string_view file_text, bool box_mode,
                                            Config* config) {
  std::string text(file_text.substr(0, kConfigBytes));
  text += "\r\n";
  config->HostBoxMode = box_mode;
  for (const TextSetting& setting : kTextSettings) {
    if (setting.style == Style::kBoxFileOnly && !box_mode) continue;
    config->*setting.member = Lookup(text, setting.name, setting.default_value, box_mode);
  }
  std::vector<std::string> notes;
  config->SmtpAfterPop = IsYesWord(Lookup(text, kSmtpAfterPop, "", box_mode));
  config->SmtpAfterPopTimeOut = SmallNumber(
      kSmtpAfterPopTimeOut, Lookup(text, kSmtpAfterPopTimeOut, "10", box_mode), 10, &notes);
  config->SmtpAfterPopDelay =
      SmallNumber(kSmtpAfterPopDelay, Lookup(text, kSmtpAfterPopDelay, "1", box_mode), 1, &notes);
  ReportOutOfRange(*config, &notes);
  ReportTlsProblems("POP3", config->Pop3Server,
                    [config](int i) { return SelectPop3Account(*config, i).tls; }, &notes);
  ReportTlsProblems("SMTP", config->SmtpServer,
                    [config](int i) { return SelectSmtpAccount(*config, i).Tls; }, &notes);
  config->PPP_Killfile = Lookup(text, kPppKillfile, "", box_mode);
  return notes;
}

std::span<const NumberSetting> NumberSettings() { return kNumberSettings; }

std::vector<ConfigKey> ConfigurationKeys() {
  std::vector<ConfigKey> keys;
  for (const TextSetting& setting : kTextSettings)
    keys.push_back({setting.name, setting.style == Style::kBoxFileOnly});
  for (std::string_view name : {kSmtpAfterPop, kSmtpAfterPopTimeOut, kSmtpAfterPopDelay})
    keys.push_back({name, false});
  // Read in either style, but the killfile is only loaded for a box file.
  keys.push_back({kPppKillfile, true});
  return keys;
}

}  // namespace postil
