// Local date and time. Code that shows or stamps the time takes a Clock, so
// tests can fix the moment. Any thread.
#pragma once

namespace postil::platform {

struct LocalTime {
  int year = 1970;
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int weekday = 4;  // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int utc_offset_minutes = 0;  // local time minus UTC, for the zone of mail dates
  // Seconds since the last local midnight, with the fraction.
  double SecondsSinceMidnight() const {
    return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0;
  }
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The system's local time.
class SystemClock final : public Clock {
 public:
  LocalTime Now() const override;
};

void SleepMilliseconds(int milliseconds);

}  // namespace postil::platform
