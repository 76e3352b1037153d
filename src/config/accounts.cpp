#include "config/accounts.h"

#include <algorithm>

#include "config/lookup_setting.h"

namespace postil {
namespace {

std::string WithTrailingBackslash(std::string dir) {
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

// Numeric value of word i, or of word 1 when that is 0 (ports).
int PortValue(std::string_view list, int account, int default_port) {
  auto port = RangedValue(AccountWord(list, account, Fallback::kNone), 0, kMaxPort, default_port);
  if (port == 0) port = RangedValue(AccountWord(list, 1, Fallback::kNone), 0, kMaxPort, default_port);
  return static_cast<int>(port);
}

int TimeOutValue(std::string_view list, int account) {
  return TimeOutSeconds(AccountWord(list, account, Fallback::kFirstWord));
}

std::string UnlessOffWord(const std::string& word) { return IsOffWord(word) ? std::string() : word; }

}  // namespace

std::string AccountWord(std::string_view list, int account, Fallback fallback) {
  std::size_t start = 0;
  for (int i = 1; i < account; ++i) {
    std::size_t blank = list.find(' ', start);
    if (blank == std::string_view::npos) {
      start = std::string_view::npos;
      break;
    }
    start = blank + 1;
  }
  std::string word;
  if (start != std::string_view::npos) word = std::string(list.substr(start, list.find(' ', start) - start));
  if (word.empty() && fallback == Fallback::kFirstWord && account != 1)
    return AccountWord(list, 1, Fallback::kNone);
  return word;
}

int AccountCount(std::string_view server_list) {
  int count = 1;
  for (char c : server_list) count += c == ' ';
  return count;
}

int TimeOutSeconds(std::string_view word) {
  if (!LeadingNumber(word)) return kDefaultTimeOut;
  const auto seconds = RangedValue(word, 0, kMaxTimeOut, kDefaultTimeOut);
  return static_cast<int>(std::max<long long>(seconds, kShortestTimeOut));
}

long long RangedValue(std::string_view word, long long min, long long max, long long fallback) {
  double value = NumericValue(word);
  if (value < static_cast<double>(min) || value > static_cast<double>(max)) return fallback;
  return static_cast<long long>(value);
}

Pop3Account SelectPop3Account(const Config& config, int account) {
  Pop3Account a;
  a.server = AccountWord(config.Pop3Server, account, Fallback::kNone);
  a.port = PortValue(config.Pop3Port, account, 110);
  a.user = AccountWord(config.Pop3User, account, Fallback::kNone);
  a.password = AccountWord(config.Pop3Pass, account, Fallback::kNone);
  a.spool_dir = WithTrailingBackslash(AccountWord(config.Pop3Spool, account, Fallback::kFirstWord));
  a.time_out = TimeOutValue(config.Pop3TimeOut, account);
  a.envelope = AccountWord(config.Pop3Envelope, account, Fallback::kFirstWord);
  a.use_envelope = IsYesWord(AccountWord(config.Pop3UseEnvelope, account, Fallback::kFirstWord));
  a.keep_on_server = IsYesWord(AccountWord(config.Pop3Keep, account, Fallback::kFirstWord));
  a.max_len = RangedValue(AccountWord(config.Pop3MaxLen, account, Fallback::kFirstWord),
                          kMinMaxLen, kMaxMaxLen, 5000000);
  a.tls = SelectAccountTls(config.Pop3Tls, config.Pop3TlsFingerprint, account, a.port, kPop3TlsKeys);
  return a;
}

SmtpAccount SelectSmtpAccount(const Config& config, int account) {
  SmtpAccount a;
  a.Server = AccountWord(config.SmtpServer, account, Fallback::kNone);
  a.User = AccountWord(config.SmtpUser, account, Fallback::kNone);
  a.Password = AccountWord(config.SmtpPass, account, Fallback::kNone);
  a.Port = PortValue(config.SmtpPort, account, 25);
  a.SpoolDir = WithTrailingBackslash(AccountWord(config.SmtpSpool, account, Fallback::kFirstWord));
  a.TimeOut = TimeOutValue(config.SmtpTimeOut, account);
  a.Burst = IsYesWord(AccountWord(config.SmtpBurst, account, Fallback::kFirstWord));
  a.Envelope = UnlessOffWord(AccountWord(config.SmtpEnvelope, account, Fallback::kNone));
  a.Redirect = UnlessOffWord(AccountWord(config.SmtpRedirect, account, Fallback::kNone));
  a.Tls = SelectAccountTls(config.SmtpTls, config.SmtpTlsFingerprint, account, a.Port, kSmtpTlsKeys);
  return a;
}

}  // namespace postil
