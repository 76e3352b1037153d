// Texts of the status panel computed from numbers: the online clock, the
// transfer rate and the progress figures of the Sent/Rcvd fields. Pure apart
// from the overload that reads the run state; any thread.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

namespace postil {

struct RunState;

// Elapsed time from `start` to `now` (seconds since midnight, crossing
// midnight once) as "hh:mm:ss", held between 00:00:00 and 99:59:59.
std::string OnlineClockText(double start, double now);

// 27 characters: "<kB> kB / <rate> cps" right-aligned, or blanks for 5000
// bytes or less. The rate counts at least one second since `start`.
std::string TransferRateText(std::uint64_t total_bytes, double start, double now);
// From TotalBytes, ScreenStartTime and the run's clock.
std::string TransferRateText(const RunState& state);

// "<received> of <size> (<mailbox> Bytes)", shown for "%RcvdBytes%".
std::string ReceiveProgressText(std::uint64_t received, std::uint64_t size,
                                std::uint64_t mailbox_size);
// "<sent> of <size> Bytes", shown for "%SendBytes%".
std::string SendProgressText(std::uint64_t sent, std::uint64_t size);

// The server field of a worker row, `width` characters: the name, and at
// its end " [TLS]" while the connection is secured (the name cut to make
// room).
std::string ServerFieldText(std::string_view server, bool secured, std::size_t width);

}  // namespace postil
