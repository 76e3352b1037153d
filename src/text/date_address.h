// Month names, the "Date: " header line and the two display forms of a mail
// address. Stateless, any thread.
#pragma once

#include <string>

#include "platform/clock.h"

namespace postil {

// "Jan" .. "Dec" for 1 to 12, empty for every other value.
std::string MonthAbbrev(int month);
// The whole "Date: " line for `now`, without line end:
// "Date: 06 Dec 2026 14:58:01 +0100" (no weekday; the zone from `now`).
std::string MakeDateHeader(const platform::LocalTime& now);
// Name-first form, for the status panel and the log: "Anna Berg <ab>".
std::string FormatNameAddr(std::string value);
// Address-first form, for the mail filter: "ab (Anna Berg)".
std::string FormatAddrComment(std::string value);

}  // namespace postil
