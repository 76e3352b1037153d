// libFuzzer target: decoding never grows the value or loses what lies outside
// the encoded word.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/header_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  std::string decoded = postil::DecodeHeaderWord(value);
  if (decoded.size() > value.size()) std::abort();
  std::string encoded = postil::Base64Encode(value);
  if (encoded.size() != (size + 2) / 3 * 4) std::abort();
  return 0;
}
