#include "config/account_tls.h"

#include <cctype>
#include <optional>

#include "config/accounts.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::size_t kFingerprintDigits = 64;

std::optional<TlsMode> ModeOfWord(std::string_view word, int port, int implicit_port) {
  if (word.empty()) return port == implicit_port ? TlsMode::kImplicit : TlsMode::kOff;
  const std::string lower = LowerCase(word);
  if (lower == "off") return TlsMode::kOff;
  if (lower == "tls") return TlsMode::kImplicit;
  if (lower == "starttls") return TlsMode::kStartTls;
  return std::nullopt;
}

// 64 hex digits, upper case, the ':' between bytes dropped; nothing when
// the word is not a SHA-256 fingerprint.
std::optional<std::string> NormalFingerprint(std::string_view word) {
  std::string digits;
  for (char c : word) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != kFingerprintDigits) return std::nullopt;
  return digits;
}

std::string ProblemText(std::string_view key, std::string_view word, std::string_view why) {
  return std::string(key) + " value " + std::string(word) + " " + std::string(why);
}

}  // namespace

AccountTls SelectAccountTls(std::string_view mode_list, std::string_view fingerprint_list,
                            int account, int port, const TlsKeys& keys) {
  AccountTls tls;
  const std::string mode_word = AccountWord(mode_list, account, Fallback::kFirstWord);
  const std::optional<TlsMode> mode = ModeOfWord(mode_word, port, keys.implicit_port);
  if (!mode) {
    tls.problem = ProblemText(keys.mode_key, mode_word, "not known (off, tls or starttls)");
    return tls;
  }
  tls.mode = *mode;
  const std::string print_word = AccountWord(fingerprint_list, account, Fallback::kFirstWord);
  if (print_word.empty()) return tls;
  const std::optional<std::string> print = NormalFingerprint(print_word);
  if (!print) {
    tls.problem = ProblemText(keys.fingerprint_key, print_word, "is not a SHA-256 fingerprint");
  } else if (tls.mode == TlsMode::kOff) {
    tls.problem = ProblemText(keys.fingerprint_key, print_word, "given without TLS");
  } else {
    tls.fingerprint = *print;
  }
  return tls;
}

}  // namespace postil
