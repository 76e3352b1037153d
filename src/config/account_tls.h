// The TLS settings of one POP3 account or SMTP server, chosen from the
// per-account word lists (Pop3Tls, Pop3TlsFingerprint, SmtpTls,
// SmtpTlsFingerprint). An account whose words are not understood is not
// served: it never runs with less security than its user asked for. Pure,
// any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

enum class TlsMode {
  kOff,       // plain TCP
  kImplicit,  // TLS from the first byte
  kStartTls,  // plain greeting, then STLS / STARTTLS before anything secret
};

struct AccountTls {
  TlsMode mode = TlsMode::kOff;
  // SHA-256 of the server's certificate, 64 upper-case hex digits; empty:
  // the chain and the name are checked instead.
  std::string fingerprint;
  // Why the account cannot be served; empty when the settings are usable.
  std::string problem;
};

// What the panel shows for an account that is not served because of them.
inline constexpr const char* kTlsSettingNotValid = "TLS setting not valid";

// The keys a protocol's TLS settings are read from, and the port on which
// TLS is the default.
struct TlsKeys {
  std::string_view mode_key;
  std::string_view fingerprint_key;
  int implicit_port;
};
inline constexpr TlsKeys kPop3TlsKeys{"Pop3Tls", "Pop3TlsFingerprint", 995};
inline constexpr TlsKeys kSmtpTlsKeys{"SmtpTls", "SmtpTlsFingerprint", 465};

// Word `account` of each list (an empty word falls back to word 1). The
// mode words are "off", "tls" and "starttls" in any case; no word at all
// means TLS on the protocol's TLS port and plain TCP elsewhere. A
// fingerprint may be written with or without ':' between the bytes.
AccountTls SelectAccountTls(std::string_view mode_list, std::string_view fingerprint_list,
                            int account, int port, const TlsKeys& keys);

}  // namespace postil
