// A certificate's SHA-256 fingerprint as text: as the log shows it, and as
// the settings and the checks compare it. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace postil::platform {

// "AB:CD:...": upper-case hex, a ':' between bytes.
std::string FingerprintText(const unsigned char* digest, std::size_t size);

// Upper-case hex digits only, so "ab:cd" and "ABCD" compare equal.
std::string BareFingerprint(std::string_view fingerprint);

}  // namespace postil::platform
