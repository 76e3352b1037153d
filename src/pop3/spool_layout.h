// The lines the POP3 worker writes around a message in an inbound spool
// file: the batched-SMTP envelope and the Received line at the top, the
// stub texts. Pure, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace postil {

// The name this program gives itself in the Received line.
inline constexpr std::string_view kLocalHostName = "localhost";
// Written after the Received line into a message the host asked for.
inline constexpr std::string_view kRequestLine = "X-QV-Mode: Message-ID Request";

// "Received: from <server> by localhost (QUIL v1.99g) with POP3;" + LF + TAB
// + "Sun, 06 Dec 2026 09:05:07 +0000 (MET)", without a final LF.
std::string MakeReceivedLine(std::string_view server, const platform::LocalTime& now);

// Lines 1 to 5 of every file (HELO, RCPT TO, DATA, the Received line), each
// with LF, and the request line when `request_line` is set.
std::string SpoolPreamble(std::string_view server, std::string_view recipient,
                          const platform::LocalTime& now, bool request_line);

// The text of a stub: the TopOfMail marker, the summary with the original
// size and the header text without its last LF. `summary` is "Message too
// long, ignored" or "Message filtered".
std::string StubText(std::string_view summary, std::int64_t size, std::string_view header_text);

inline constexpr std::string_view kTooLongSummary = "Message too long, ignored";
inline constexpr std::string_view kFilteredSummary = "Message filtered";

}  // namespace postil
