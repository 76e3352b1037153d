#include "platform/transport.h"

#include <array>

namespace postil {
namespace {

// In the order of ConnectFailure.
constexpr std::array<std::string_view, 10> kFailureTexts = {
    "",
    "name not resolved",
    "connection refused",
    "connection timed out",
    "network error",
    "TLS handshake failed",
    "certificate not trusted",
    "certificate name mismatch",
    "certificate fingerprint mismatch",
    "STARTTLS not offered",
};
static_assert(kFailureTexts.size() ==
                  static_cast<std::size_t>(ConnectFailure::kStartTlsNotOffered) + 1,
              "one text for each ConnectFailure");

}  // namespace

std::string_view ConnectFailureText(ConnectFailure failure) {
  const auto index = static_cast<std::size_t>(failure);
  return index < kFailureTexts.size() ? kFailureTexts[index] : "";
}

}  // namespace postil
