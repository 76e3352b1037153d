#include "app/check_command.h"

#include <string>
#include <vector>

#include "app/configuration_load.h"
#include "config/accounts.h"
#include "config/config_check.h"
#include "core/host_files.h"
#include "core/run_state.h"
#include "filter/killfile.h"
#include "platform/files.h"
#include "text/cp437_glyphs.h"

namespace postil {
namespace {

constexpr int kNameWidth = 21;

// Values are code page 437 bytes from a file: shown as their glyphs, so no
// byte of them reaches the terminal as a control sequence.
std::string Shown(std::string_view text) {
  std::string shown;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      shown += Cp437GlyphUtf8(byte);
    }
  }
  return shown;
}

void Row(std::ostream& out, std::string_view name, std::string_view value) {
  std::string padded(name);
  padded.resize(std::max<std::size_t>(padded.size() + 1, kNameWidth), ' ');
  out << "  " << padded << value << "\n";
}

std::string OrNone(std::string_view value) { return value.empty() ? "(none)" : Shown(value); }
std::string Secret(std::string_view value) { return value.empty() ? "(none)" : "***"; }
std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string Counted(int count, std::string_view what) {
  return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

std::string TlsModeText(const AccountTls& tls) {
  switch (tls.mode) {
    case TlsMode::kImplicit:
      return "tls";
    case TlsMode::kStartTls:
      return "starttls";
    case TlsMode::kOff:
      break;
  }
  return "off";
}

// An account that will not be served says why instead of its settings.
bool SaysWhyNotServed(std::ostream& out, std::string_view server, const AccountTls& tls) {
  if (server.empty()) {
    out << "  not served: no server name\n";
    return true;
  }
  if (tls.problem.empty()) return false;
  out << "  not served: " << Shown(tls.problem) << "\n";
  return true;
}

void PrintTls(std::ostream& out, std::string_view mode_key, std::string_view fingerprint_key,
              const AccountTls& tls) {
  Row(out, mode_key, TlsModeText(tls));
  if (tls.mode != TlsMode::kOff)
    Row(out, fingerprint_key,
        tls.fingerprint.empty() ? "(none: chain and name are checked)" : tls.fingerprint);
}

void PrintServerListState(std::ostream& out, std::string_view side, std::string_view key,
                          const std::string& servers) {
  if (servers.empty()) out << side << ": off (" << key << " is not set)\n";
  if (servers == "disabled") out << side << ": off (" << key << " is \"disabled\")\n";
}

void PrintPop3Accounts(std::ostream& out, const Config& config) {
  PrintServerListState(out, "POP3", "Pop3Server", config.Pop3Server);
  if (config.Pop3Server.empty() || config.Pop3Server == "disabled") return;
  for (int i = 1; i <= AccountCount(config.Pop3Server); ++i) {
    const Pop3Account a = SelectPop3Account(config, i);
    out << "POP3 account " << i << "\n";
    Row(out, "Pop3Server", OrNone(a.server));
    if (SaysWhyNotServed(out, a.server, a.tls)) continue;
    Row(out, "Pop3Port", std::to_string(a.port));
    PrintTls(out, "Pop3Tls", "Pop3TlsFingerprint", a.tls);
    Row(out, "Pop3User", OrNone(a.user));
    Row(out, "Pop3Pass", Secret(a.password));
    Row(out, "Pop3Spool", Shown(a.spool_dir));
    Row(out, "Pop3TimeOut", std::to_string(a.time_out) + " s");
    Row(out, "Pop3Envelope", Shown(a.envelope));
    Row(out, "Pop3UseEnvelope", YesNo(a.use_envelope));
    Row(out, "Pop3Keep", YesNo(a.keep_on_server));
    Row(out, "Pop3MaxLen", a.max_len > 0 ? std::to_string(a.max_len) + " bytes" : "no limit");
  }
}

void PrintSmtpServers(std::ostream& out, const Config& config) {
  PrintServerListState(out, "SMTP", "SmtpServer", config.SmtpServer);
  if (config.SmtpServer.empty() || config.SmtpServer == "disabled") return;
  for (int i = 1; i <= AccountCount(config.SmtpServer); ++i) {
    const SmtpAccount a = SelectSmtpAccount(config, i);
    out << "SMTP server " << i << "\n";
    Row(out, "SmtpServer", OrNone(a.Server));
    if (SaysWhyNotServed(out, a.Server, a.Tls)) continue;
    Row(out, "SmtpPort", std::to_string(a.Port));
    PrintTls(out, "SmtpTls", "SmtpTlsFingerprint", a.Tls);
    Row(out, "SmtpUser", a.User.empty() ? "(none: no AUTH)" : Shown(a.User));
    Row(out, "SmtpPass", Secret(a.Password));
    Row(out, "SmtpSpool", Shown(a.SpoolDir));
    Row(out, "SmtpTimeOut", std::to_string(a.TimeOut) + " s");
    Row(out, "SmtpBurst", YesNo(a.Burst));
    Row(out, "SmtpEnvelope", OrNone(a.Envelope));
    Row(out, "SmtpRedirect", OrNone(a.Redirect));
  }
}

std::string KillfileText(const Config& config, const ConfigurationLoad& load,
                         const RuleTable& rules) {
  switch (load.killfile) {
    case KillfileLoad::kLoaded: {
      std::size_t rule_count = 0;
      for (const KillSection& section : rules.sections) rule_count += section.rules.size();
      return Shown(config.PPP_Killfile) + ": " +
             Counted(static_cast<int>(rules.sections.size()), "section") + ", " +
             Counted(static_cast<int>(rule_count), "rule");
    }
    case KillfileLoad::kFailed:
      return Shown(config.PPP_Killfile) + ": not loaded, the mail filter is off";
    case KillfileLoad::kNotNamed:
      break;
  }
  return config.HostBoxMode ? "(none: the mail filter is off)" : "(read from .BFG files only)";
}

std::string LogDirectoryText() {
  std::optional<std::string> dir = HostLogDirectory();
  if (!dir) return "no QUORVX.CFG: QUIL.LOG in the current directory, no QV-PPP.LOG";
  if (dir->empty()) return "QUORVX.CFG names none: QUIL.LOG and QV-PPP.LOG here";
  return "QUIL.LOG and QV-PPP.LOG in " + Shown(*dir) + " (QUORVX.CFG)";
}

void PrintRunSettings(std::ostream& out, const Config& config, const ConfigurationLoad& load,
                      const RuleTable& rules) {
  out << "For the whole run\n";
  Row(out, "SmtpAfterPop", YesNo(config.SmtpAfterPop));
  if (config.SmtpAfterPop) {
    Row(out, "SmtpAfterPopTimeOut", std::to_string(config.SmtpAfterPopTimeOut) + " s");
    Row(out, "SmtpAfterPopDelay", std::to_string(config.SmtpAfterPopDelay) + " s");
  }
  Row(out, "TlsCaFile",
      config.TlsCaFile.empty() ? "(none: the system's store)" : Shown(config.TlsCaFile));
  Row(out, "PPP_Killfile", KillfileText(config, load, rules));
  Row(out, "QV.EXE",
      config.HostRelease > 0 ? "release marker found: message requests on, client tag QUIL+"
                             : "no release marker: a run with errors ends with the "
                               "\"Configuration info\" notice");
  Row(out, "Log", LogDirectoryText());
}

// The loader says only that the killfile did not load; its reasons, by the
// loader's own limits.
std::string KillfileFailure(const std::string& path) {
  if (!platform::FileExists(path)) return " not found";
  if (platform::FileSize(path).value_or(0) > kMaxKillfileBytes)
    return " is larger than " + std::to_string(kMaxKillfileBytes) + " bytes";
  return " could not be read, or has a line longer than " + std::to_string(kMaxKillfileLine) +
         " bytes";
}

// Everything that makes a run do other than the file seems to say.
std::vector<std::string> Problems(const Config& config, const ConfigurationLoad& load) {
  std::vector<std::string> problems = load.notes;
  problems.insert(problems.end(), load.review.problems.begin(), load.review.problems.end());
  if (load.killfile == KillfileLoad::kFailed)
    problems.push_back("Killfile " + config.PPP_Killfile + KillfileFailure(config.PPP_Killfile));
  return problems;
}

int PrintVerdict(std::ostream& out, const Config& config, const ConfigurationLoad& load) {
  if (!load.review.other_keys.empty()) {
    out << "Other keys of the box file (not POSTIL's):";
    for (const std::string& key : load.review.other_keys) out << " " << Shown(key);
    out << "\n";
  }
  const std::vector<std::string> problems = Problems(config, load);
  if (!problems.empty()) out << "Problems\n";
  for (const std::string& problem : problems) out << "  " << Shown(problem) << "\n";
  const int pop3 = ServedPop3Accounts(config);
  const int smtp = ServedSmtpServers(config);
  out << "Served: " << Counted(pop3, "POP3 account") << ", " << Counted(smtp, "SMTP server") << "; "
      << Counted(static_cast<int>(problems.size()), "problem") << "\n";
  return pop3 + smtp > 0 && problems.empty() ? 0 : 1;
}

}  // namespace

int RunConfigurationCheck(std::string_view file_name, std::ostream& out,
                          const platform::Clock& clock) {
  const std::string name = Shown(file_name);
  if (!platform::FileExists(file_name)) {
    out << "Error: Configurationfile '" << name << "' not found!\n";
    return 1;
  }
  // The log is never set up, so loading writes no line and no file.
  RunState state(clock);
  Config config;
  RuleTable rules;
  const ConfigurationLoad load = LoadConfiguration(state, file_name, &config, &rules);
  if (!load.opened) {
    out << "Error Opening " << name << "\n";
    return 1;
  }
  out << "Configuration file " << name << "\n";
  out << (config.HostBoxMode
              ? "Key style: box file, keys without \"$\" (the name's part after its first "
                "\".\" is BFG)\n"
              : "Key style: keys with \"$\" (the name's part after its first \".\" is not "
                "BFG)\n");
  PrintPop3Accounts(out, config);
  PrintSmtpServers(out, config);
  PrintRunSettings(out, config, load, rules);
  return PrintVerdict(out, config, load);
}

}  // namespace postil
