// libFuzzer target: bracketed addresses and recipients taken from header
// lines stay within their bounds, the "From:" rewrite touches only an exact
// "From:" line, and no body line can end the message early.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "smtp/message_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the redirect address, each further line a header line.
  std::size_t lf = input.find('\n');
  std::string_view redirect = input.substr(0, lf);
  NormalEnvelope envelope;
  for (std::string_view rest = lf == std::string_view::npos ? "" : input.substr(lf + 1);
       !rest.empty();) {
    lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? "" : rest.substr(lf + 1);
    std::string address = GetEmailAdress(line);
    if (address.find(' ') != std::string::npos) std::abort();
    // Only a bracketed address is cut; a bare one is the line's second field.
    if (line.find('<') != std::string_view::npos &&
        (address.size() > kMaxAddressBytes || address.find('>') != std::string::npos))
      std::abort();
    ScanEnvelopeLine(line, "", &envelope);
    if (envelope.recipient.size() > kMaxAddressBytes) std::abort();
    if (HeloDomainOf(line).size() > kMaxAddressBytes) std::abort();
    std::string rewritten = RewriteFromLine(line, redirect);
    if (!line.starts_with("From:") && rewritten != line) std::abort();
    if (RewriteFromLine(line, "") != line) std::abort();
    std::string body = NormalBodyLine(std::string(line));
    if (body == "." || (line.starts_with('.') && body != "." + std::string(line))) std::abort();
  }
  return 0;
}
