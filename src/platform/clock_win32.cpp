#include <windows.h>

#include "platform/clock.h"

namespace postil::platform {
namespace {

// Local time minus UTC, daylight saving time included while it is in force.
int UtcOffsetMinutes() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD state = ::GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  else if (state == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return state == TIME_ZONE_ID_INVALID ? 0 : -static_cast<int>(bias);
}

}  // namespace

LocalTime SystemClock::Now() const {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.day = now.wDay;
  t.weekday = now.wDayOfWeek;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  t.millisecond = now.wMilliseconds;
  t.utc_offset_minutes = UtcOffsetMinutes();
  return t;
}

void SleepMilliseconds(int milliseconds) { ::Sleep(milliseconds > 0 ? milliseconds : 0); }

}  // namespace postil::platform
