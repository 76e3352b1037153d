// A clock that always tells the same moment, for tests of dated texts.
#pragma once

#include "platform/clock.h"

namespace postil::test {

class FixedClock final : public platform::Clock {
 public:
  explicit FixedClock(platform::LocalTime now) : now_(now) {}
  platform::LocalTime Now() const override { return now_; }
  void Set(platform::LocalTime now) { now_ = now; }

 private:
  platform::LocalTime now_;
};

// Sunday, 6 December 2026, 09:05:07.
inline platform::LocalTime SampleTime() {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 6;
  t.weekday = 0;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  return t;
}

}  // namespace postil::test
