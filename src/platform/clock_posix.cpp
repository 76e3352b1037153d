#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

namespace postil::platform {

LocalTime SystemClock::Now() const {
  timeval now {};
  ::gettimeofday(&now, nullptr);
  time_t seconds = now.tv_sec;
  tm parts {};
  ::localtime_r(&seconds, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.weekday = parts.tm_wday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int>(now.tv_usec / 1000);
  t.utc_offset_minutes = static_cast<int>(parts.tm_gmtoff / 60);
  return t;
}

void SleepMilliseconds(int milliseconds) {
  timespec wait {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0) {
  }
}

}  // namespace postil::platform
