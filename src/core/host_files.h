// What POSTIL reads from the host's and the dialer's files in the current
// directory. Never fail: each falls back to a fixed value. Any thread.
#pragma once

namespace postil {

struct RunState;

// Seconds since midnight at which the dialer reported the connection up
// (the first 9 bytes of ZDial.Dat), or the current time.
double DialerOnlineSince(RunState& state);

// 1-based position of "QV2" in the first 128,000 bytes of QV.EXE; 0 when
// the file is missing, unreadable or has no marker.
int DetectHostRelease(RunState& state);

}  // namespace postil
