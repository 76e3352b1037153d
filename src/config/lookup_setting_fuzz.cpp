// libFuzzer target: a setting's value is its default or trimmed text of the
// configuration, and the per-account words stay within their limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/accounts.h"
#include "config/lookup_setting.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the key, the rest the configuration text.
  std::size_t lf = input.find('\n');
  std::string_view key = input.substr(0, lf);
  std::string_view text = lf == std::string_view::npos ? "" : input.substr(lf + 1);
  for (bool strip : {false, true}) {
    std::string value = LookupSetting(text, key, "<default>", strip);
    if (value != "<default>" && (value.empty() || value.front() == ' ' || value.back() == ' '))
      std::abort();
  }
  if (IsYesWord(text) && IsOffWord(text)) std::abort();
  Config config;
  config.Pop3Port = config.Pop3TimeOut = config.Pop3MaxLen = config.SmtpPort = std::string(text);
  for (int account : {1, 2, 3, AccountCount(text)}) {
    Pop3Account pop3 = SelectPop3Account(config, account);
    SmtpAccount smtp = SelectSmtpAccount(config, account);
    if (pop3.port < 0 || pop3.port > kMaxPort || smtp.Port < 0 || smtp.Port > kMaxPort)
      std::abort();
    if (pop3.time_out < 0 || pop3.time_out > kMaxTimeOut) std::abort();
    if (pop3.spool_dir.back() != '\\' || smtp.SpoolDir.back() != '\\') std::abort();
  }
  return 0;
}
