// What POSTIL reads from the host's and the dialer's files in the current
// directory. Never fail: each falls back to a fixed value. Any thread.
#pragma once

#include <optional>
#include <string>

namespace postil {

struct RunState;

// Seconds since midnight at which the dialer reported the connection up
// (the first 9 bytes of ZDial.Dat), or the current time.
double DialerOnlineSince(RunState& state);

// 1-based position of "QV2" in the first 128,000 bytes of QV.EXE; 0 when
// the file is missing, unreadable or has no marker.
int DetectHostRelease(RunState& state);

// The host log's directory: LOGDIR from QUORVX.CFG, a prefix (empty: the
// current directory, also when the key is missing or the file unreadable);
// nothing when there is no QUORVX.CFG, and then no host log either. Read
// before the log exists, so it logs nothing.
std::optional<std::string> HostLogDirectory();

}  // namespace postil
