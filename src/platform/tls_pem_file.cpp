// The PEM files of every TLS backend, read through the platform's files.
#include <optional>

#include "platform/files.h"
#include "platform/tls_layer.h"

namespace postil::platform {

bool ReadPemText(const std::string& path, std::string* text, std::string* reason) {
  std::optional<std::string> bytes;
  if (!FileSize(path)) {
    *reason = "not found";
  } else if (!FileExists(path)) {
    *reason = "not a regular file";
  } else if (!(bytes = ReadFilePrefix(path, kMaxPemFileBytes + 1))) {
    *reason = "cannot be read";
  } else if (bytes->size() > kMaxPemFileBytes) {
    *reason = "larger than " + std::to_string(kMaxPemFileBytes) + " bytes";
  } else {
    *text = std::move(*bytes);
    return true;
  }
  return false;
}

}  // namespace postil::platform
