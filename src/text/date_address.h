// Month names, the "Date: " header line and the two display forms of a mail
// address. Stateless, any thread.
#pragma once

#include <string>

#include "platform/clock.h"

namespace postil {

// "Jan" .. "Dec" for 1 to 12, empty for every other value.
std::string MonthAbbrev(int month);
// The whole "Date: " line for `now`, without line end.
std::string MakeDateHeader(const platform::LocalTime& now);
// Name-first form, for the status panel and the log.
std::string FormatNameAddr(std::string value);
// Address-first form, for the mail filter.
std::string FormatAddrComment(std::string value);

}  // namespace postil
