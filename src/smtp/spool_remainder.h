// An outgoing batched spool file of several messages, cut down to what is
// left to send as its messages are done, so that no later run sends one of
// them again. The file is replaced whole (temporary file, sync, rename): a
// crash leaves the old or the new file under its name, never a part of one.
// Owned by the SMTP worker, one file at a time.
#pragma once

#include <cstdint>
#include <string>

#include "log/logger.h"

namespace postil {

struct RunState;

class SpoolRemainder {
 public:
  SpoolRemainder(RunState& state, Logger log, std::string path);

  // The bytes before `offset` (the "HELO" line) head every version of the
  // file.
  void KeepHead(std::uint64_t offset) { head_ = offset; }
  // The messages between the head and `offset` (an offset in the file as it
  // was when sending began) are done: the file becomes the head and the
  // bytes from `offset` on. False when it could not be rewritten: logged
  // ("Error rewriting Spoolfile", kFailure), SmtpErrorFlag set, the file
  // unchanged.
  bool DropDoneBefore(std::uint64_t offset);

 private:
  bool Rewrite(std::uint64_t skip, std::string* err) const;

  RunState& state_;
  const Logger log_;
  const std::string path_;
  std::uint64_t head_ = 0;
  std::uint64_t dropped_ = 0;  // bytes after the head already gone from the file
};

}  // namespace postil
