#include "platform/tls_fingerprint.h"

#include <cctype>

namespace postil::platform {

std::string FingerprintText(const unsigned char* digest, std::size_t size) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

std::string BareFingerprint(std::string_view fingerprint) {
  std::string bare;
  for (const char c : fingerprint) {
    if (c != ':') bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return bare;
}

}  // namespace postil::platform
