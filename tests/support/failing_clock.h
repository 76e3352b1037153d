// A clock that tells the sample time, but throws std::bad_alloc from the
// first call after Arm(): memory running out at a chosen moment, a failure
// that only a seam can produce.
#pragma once

#include <atomic>
#include <new>

#include "platform/clock.h"
#include "support/fixed_clock.h"

namespace postil::test {

class FailingClock final : public platform::Clock {
 public:
  platform::LocalTime Now() const override {
    if (armed_.exchange(false)) throw std::bad_alloc();
    return SampleTime();
  }
  // Any thread may arm it while another reads it.
  void Arm() { armed_ = true; }

 private:
  mutable std::atomic<bool> armed_{false};
};

}  // namespace postil::test
