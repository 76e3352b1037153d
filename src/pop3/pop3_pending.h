// What one POP3 session has done that counts only once its spool files are
// durable under their names: the files themselves, the Message-IDs the
// Dupebase learnt for them, and the requests served. The server deletes
// nothing before QUIT, so the files are named once, together, right before
// QUIT; a session that cannot send QUIT names none of them. POP3 worker
// only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/inbound_spool.h"
#include "pop3/pop3_context.h"

namespace postil {

struct Pop3Account;

struct Pop3Pending {
  // The session's files go to the account's spool directory; `dupe_mark` is
  // where the Dupebase ends when the session starts.
  Pop3Pending(RunState& state, const Pop3Account& account, platform::DiskSync& disk, Logger log,
              std::size_t dupe_mark);

  SpoolSession spool;
  std::size_t dupe_mark;                      // the Dupebase's end at the session's start
  std::vector<std::string> fetched_requests;  // served once the files are durable
  std::vector<std::string> deleted_requests;  // served once QUIT was accepted
};

// Names the session's spool files durably and marks the fetch requests
// served. When that fails, the files are removed again (DiscardPending)
// and Pop3ErrorFlag is set; the caller must then not send QUIT, so the
// server deletes nothing.
bool CommitPending(Pop3Context& context);

// For a session that ends without QUIT: its files are removed unnamed, the
// Message-IDs the Dupebase learnt in it are forgotten (their messages will
// be met again), and the requests stay unserved.
void DiscardPending(Pop3Context& context);

// After QUIT was accepted: the deletions took effect, so the delete
// requests are marked served.
void MarkDeletionsServed(Pop3Context& context);

}  // namespace postil
