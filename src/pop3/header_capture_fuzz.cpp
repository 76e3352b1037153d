// libFuzzer target: each header line captures at most its own field; the
// undecoded fields are trimmed parts of the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pop3/header_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  CapturedHeader header;
  for (std::string_view rest = input; !rest.empty();) {
    std::size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? "" : rest.substr(lf + 1);
    bool use_envelope = line.size() % 2 == 0;
    CapturedHeader before = header;
    HeaderField field = CaptureHeaderLine(line, use_envelope, &header);
    if (field != HeaderField::kEnvelopeTo && header.envelope_to != before.envelope_to) std::abort();
    if (field != HeaderField::kMessageId && header.message_id != before.message_id) std::abort();
    if (field == HeaderField::kEnvelopeTo &&
        (!use_envelope || line.find(header.envelope_to) == std::string_view::npos ||
         header.envelope_to.starts_with(' ') || header.envelope_to.ends_with(' ')))
      std::abort();
    if (field == HeaderField::kMessageId &&
        (!line.ends_with(header.message_id) || header.message_id.starts_with(' ')))
      std::abort();
    IsSecurityViolation(line);
  }
  return 0;
}
