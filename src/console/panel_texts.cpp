#include "console/panel_texts.h"

#include <cstdio>

#include "core/run_state.h"

namespace postil {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::size_t kRateWidth = 27;

double ElapsedSeconds(double start, double now) {
  if (start > now) now += kSecondsPerDay;
  return now - start;
}

std::string WithThousands(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

}  // namespace

std::string OnlineClockText(double start, double now) {
  auto seconds = static_cast<long long>(ElapsedSeconds(start, now));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60,
                seconds % 60);
  return text;
}

std::string TransferRateText(std::uint64_t total_bytes, double start, double now) {
  if (total_bytes <= 5000) return std::string(kRateWidth, ' ');
  auto elapsed = static_cast<std::uint64_t>(ElapsedSeconds(start, now));
  if (elapsed < 1) elapsed = 1;
  std::string text = WithThousands(total_bytes / 1000) + " kB / " +
                     std::to_string(total_bytes / elapsed) + " cps";
  if (text.size() < kRateWidth) text.insert(0, kRateWidth - text.size(), ' ');
  return text;
}

std::string TransferRateText(const RunState& state) {
  return TransferRateText(state.TotalBytes, state.ScreenStartTime,
                          state.clock.Now().SecondsSinceMidnight());
}

}  // namespace postil
