// The settings of one POP3 account or SMTP server, chosen from the
// per-account word lists of the configuration record. The rule of word i and
// its fallback to word 1 is written once here. Pure, any thread.
#pragma once

#include <string>
#include <string_view>

#include "config/account_tls.h"
#include "config/config.h"

namespace postil {

enum class Fallback { kNone, kFirstWord };

// Word `account` (1-based) of a list separated by single blanks; an entry
// beyond the end or between two adjacent blanks is empty. With kFirstWord an
// empty word i gives word 1.
std::string AccountWord(std::string_view list, int account, Fallback fallback);

// Number of accounts a server list defines: its blanks plus one.
int AccountCount(std::string_view server_list);

// A numeric account value that does not fit its setting gives the setting's
// default (the loader has logged it); a 0 port falls back to word 1.
struct Pop3Account {
  std::string server;
  int port = 110;
  std::string user;
  std::string password;
  std::string spool_dir;  // always ends with "\"
  int time_out = 15;
  std::string envelope;
  bool use_envelope = false;
  bool keep_on_server = false;
  long long max_len = 5000000;  // 0 or less: no limit
  AccountTls tls;
};

struct SmtpAccount {
  std::string Server;
  std::string User;
  std::string Password;
  int Port = 25;
  std::string SpoolDir;  // always ends with "\"
  int TimeOut = 15;
  bool Burst = true;
  std::string Envelope;  // empty when unset or an off-word
  std::string Redirect;  // empty when unset or an off-word
  AccountTls Tls;
};

Pop3Account SelectPop3Account(const Config& config, int account);
SmtpAccount SelectSmtpAccount(const Config& config, int account);

// Limits of the numeric settings. A word that does not fit gives the
// setting's default instead of wrapping into another value.
inline constexpr long long kMaxPort = 65535;
inline constexpr long long kMaxTimeOut = 32767;
inline constexpr long long kMinMaxLen = -2147483648LL;
inline constexpr long long kMaxMaxLen = 2147483647LL;

// The numeric value of `word` when it lies in [min, max], else `fallback`.
long long RangedValue(std::string_view word, long long min, long long max, long long fallback);

// The seconds a Pop3TimeOut or SmtpTimeOut word gives. A word without digits
// is not understood and gives the default, as one out of range does; a
// number that rounds to 0 asks for the least waiting and gets the shortest
// time-out, since a line protocol can neither do without waiting nor wait
// for ever.
inline constexpr int kDefaultTimeOut = 15;
inline constexpr int kShortestTimeOut = 1;
int TimeOutSeconds(std::string_view word);

}  // namespace postil
