// libFuzzer target: both address forms take any bytes and always close the
// name-first form with "<...>".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/date_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  std::string name_addr = postil::FormatNameAddr(value);
  if (name_addr.empty() || name_addr.back() != '>') std::abort();
  if (postil::FormatAddrComment(value).size() > size + 3) std::abort();
  return 0;
}
