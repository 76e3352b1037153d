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

// How a spool file is replaced by its cut-down version. DiskSpoolRewriter()
// is the real one; tests put one in its place that fails, as a full disk
// does. Any thread.
class SpoolRewriter {
 public:
  virtual ~SpoolRewriter() = default;
  // The file at `path` becomes its first `head` bytes and what follows the
  // `skip` bytes after them, whole or not at all. False, `err` saying why,
  // leaves the file as it was.
  virtual bool Rewrite(const std::string& path, std::uint64_t head, std::uint64_t skip,
                       std::string* err) = 0;
};

SpoolRewriter& DiskSpoolRewriter();

class SpoolRemainder {
 public:
  SpoolRemainder(RunState& state, Logger log, std::string path, SpoolRewriter& rewriter);

  // The bytes before `offset` (the "HELO" line) head every version of the
  // file.
  void KeepHead(std::uint64_t offset) { head_ = offset; }
  // The messages between the head and `offset` (an offset in the file as it
  // was when sending began) are done: the file becomes the head and the
  // bytes from `offset` on. False when it could not be rewritten: logged
  // ("Error rewriting Spoolfile", then that no further message goes from
  // the file, both kFailure), SmtpErrorFlag set, the file unchanged. The
  // caller must then send no further message from it, so that only the one
  // done last goes again.
  bool DropDoneBefore(std::uint64_t offset);

 private:
  RunState& state_;
  const Logger log_;
  const std::string path_;
  SpoolRewriter& rewriter_;
  std::uint64_t head_ = 0;
  std::uint64_t dropped_ = 0;  // bytes after the head already gone from the file
};

}  // namespace postil
