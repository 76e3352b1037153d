// Writing what the POP3 worker fetches into inbound spool files: a full
// message copied line by line from the channel (only its header is held in
// memory), or a stub. POP3 worker only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pop3/pop3_context.h"

namespace postil {

enum class CopyResult {
  kDone,            // the file is complete, held for the session's commit
  kChannelFailure,  // time-out, socket error, abort or connection closed
  kSpoolFailure,    // no file could be created or written; the message was read to its end
  kCut,  // past its bound, or the stop was requested: the message was not read to its end
};

// How far a message may run: past `max_bytes` bytes (lines counted with
// their LF) it is cut and `cut_text` is logged. 0: no bound.
struct CopyBound {
  std::uint64_t max_bytes = 0;
  std::string cut_text;
};

// Given the channel after a successful RETR reply: reads the header (dropping
// X-QV-Mode lines under the security rule), creates the spool file, writes
// the envelope, the Received line, the request line when `request_line`,
// the header and the body up to and including ".", then "QUIT", and holds
// the file for the session's commit (Pop3Pending). On any failure nothing
// remains in the spool directory.
CopyResult WriteMessageSpool(Pop3Context& context, std::string_view recipient, bool request_line,
                             const CopyBound& bound);

// A stub: the envelope and Received lines, `stub_text` and LF, ".", "QUIT";
// held with the session's other files.
bool WriteStubSpool(Pop3Context& context, std::string_view recipient, std::string_view stub_text);

// The part of a message's header that is held before the spool file is
// created; a longer header goes to the file as it arrives.
inline constexpr std::size_t kHeaderHoldBytes = 1 << 20;

inline constexpr std::string_view kSecurityViolationText =
    "Security Violation (Backdoor attack), String removed!";

}  // namespace postil
