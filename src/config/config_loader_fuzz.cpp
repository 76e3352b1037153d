// libFuzzer target: any configuration text parses, in both key styles, into
// accounts whose numbers stay within their limits, and its review ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/accounts.h"
#include "config/config_check.h"
#include "config/config_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool box_mode = !text.empty() && (text[0] & 1);
  Config config;
  ParseConfiguration(text, box_mode, &config);
  ReviewConfiguration(text, box_mode, config);
  for (int account = 1; account <= 3; ++account) {
    Pop3Account pop3 = SelectPop3Account(config, account);
    SmtpAccount smtp = SelectSmtpAccount(config, account);
    if (pop3.port < 0 || pop3.port > kMaxPort || smtp.Port < 0 || smtp.Port > kMaxPort)
      std::abort();
    if (pop3.spool_dir.back() != '\\' || smtp.SpoolDir.back() != '\\') std::abort();
  }
  return 0;
}
