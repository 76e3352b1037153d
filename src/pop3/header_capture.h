// The header fields the message scan takes from a message's header lines,
// and the security rule for the host's own marker lines. Pure, any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

struct CapturedHeader {
  std::string to;           // decoded, trimmed
  std::string from;         // decoded, trimmed
  std::string subject;      // decoded, blanks kept
  std::string envelope_to;  // trimmed, not decoded
  std::string message_id;   // leading blanks removed, trailing blanks kept
};

enum class HeaderField { kNone, kTo, kFrom, kSubject, kEnvelopeTo, kMessageId };

// When `line` begins (without regard to case) with "To: ", "From: ",
// "Subject: ", "Envelope-To: " (only with `use_envelope`) or "Message-ID: ",
// stores its value in `header`, overwriting an earlier one, and says which.
HeaderField CaptureHeaderLine(std::string_view line, bool use_envelope, CapturedHeader* header);

// X-QV-Mode lines are the markers this program writes for the host; one that
// arrives from a server is never passed on. The test needs the first
// kSecurityPrefixBytes bytes of a line (or all of a shorter one).
inline constexpr std::string_view kSecurityPrefix = "X-QV-MODE";
inline constexpr std::size_t kSecurityPrefixBytes = kSecurityPrefix.size();
bool IsSecurityViolation(std::string_view line);

}  // namespace postil
