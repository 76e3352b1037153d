#include "console/panel_texts.h"

#include <algorithm>

#include "core/run_state.h"
#include "text/date_address.h"

namespace postil {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::size_t kRateWidth = 27;
// The clock has room for two digits of hours; a dialer stamp that is no
// time of day must not push it over the panel's frame.
constexpr long long kLongestClock = 99 * 3600 + 59 * 60 + 59;

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
  double elapsed = std::clamp(ElapsedSeconds(start, now), 0.0, static_cast<double>(kLongestClock));
  auto seconds = static_cast<int>(elapsed);
  return ClockText(seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

std::string TransferRateText(std::uint64_t total_bytes, double start, double now) {
  if (total_bytes <= 5000) return std::string(kRateWidth, ' ');
  auto elapsed = static_cast<std::uint64_t>(std::max(ElapsedSeconds(start, now), 1.0));
  std::string text =
      WithThousands(total_bytes / 1000) + " kB / " + std::to_string(total_bytes / elapsed) + " cps";
  if (text.size() < kRateWidth) text.insert(0, kRateWidth - text.size(), ' ');
  return text;
}

std::string TransferRateText(const RunState& state) {
  return TransferRateText(state.TotalBytes, state.ScreenStartTime,
                          state.clock.Now().SecondsSinceMidnight());
}

std::string ReceiveProgressText(std::uint64_t received, std::uint64_t size,
                                std::uint64_t mailbox_size) {
  return std::to_string(received) + " of " + std::to_string(size) + " (" +
         std::to_string(mailbox_size) + " Bytes)";
}

std::string SendProgressText(std::uint64_t sent, std::uint64_t size) {
  return std::to_string(sent) + " of " + std::to_string(size) + " Bytes";
}

std::string ServerFieldText(std::string_view server, bool secured, std::size_t width) {
  constexpr std::string_view kSecuredMark = " [TLS]";
  std::string text(server);
  if (secured) text = text.substr(0, width - kSecuredMark.size()) + std::string(kSecuredMark);
  text.resize(width, ' ');
  return text;
}

}  // namespace postil
