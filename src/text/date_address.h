// Day and month names, two-digit numbers and clock times, the "Date: "
// header line and the two display forms of a mail address. Stateless, any
// thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace postil {

// Indexed by LocalTime::weekday (0 = Sunday) and by month - 1.
inline constexpr std::array<std::string_view, 7> kWeekdayAbbrevs = {"Sun", "Mon", "Tue", "Wed",
                                                                    "Thu", "Fri", "Sat"};
inline constexpr std::array<std::string_view, 12> kMonthAbbrevs = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Jan" .. "Dec" for 1 to 12, empty for every other value.
std::string MonthAbbrev(int month);
// The last two decimal digits of `value`, zero-filled: 7 is "07", 2026 is
// "26". A negative value keeps its sign: -7 is "-7".
std::string TwoDigits(int value);
// "hh:mm:ss", each part by TwoDigits.
std::string ClockText(int hour, int minute, int second);
// The whole "Date: " line for `now`, without line end:
// "Date: 06 Dec 2026 14:58:01 +0100" (no weekday; the zone from `now`).
std::string MakeDateHeader(const platform::LocalTime& now);
// Name-first form, for the status panel and the log: "Anna Berg <ab>".
std::string FormatNameAddr(std::string_view value);
// Address-first form, for the mail filter: "ab (Anna Berg)".
std::string FormatAddrComment(std::string_view value);

}  // namespace postil
