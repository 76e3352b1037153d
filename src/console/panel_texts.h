// Texts of the status panel computed from the run state: the online clock
// and the transfer rate. Pure apart from reading the run state; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace postil {

struct RunState;

// Elapsed time from `start` to `now` (seconds since midnight, crossing
// midnight once) as "hh:mm:ss".
std::string OnlineClockText(double start, double now);

// 27 characters: "<kB> kB / <rate> cps" right-aligned, or blanks for 5000
// bytes or less.
std::string TransferRateText(std::uint64_t total_bytes, double start, double now);
std::string TransferRateText(const RunState& state);

}  // namespace postil
