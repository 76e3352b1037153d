#include "pop3/pop3_pending.h"

#include "config/accounts.h"
#include "core/run_state.h"
#include "pop3/pop3_stores.h"

namespace postil {
namespace {

constexpr std::string_view kSpoolExtension = ".MSG";

}  // namespace

Pop3Pending::Pop3Pending(RunState& state, const Pop3Account& account, platform::DiskSync& disk,
                         Logger log, std::size_t dupe_mark_in)
    : spool(state, account.spool_dir, std::string(kSpoolExtension), disk, log),
      dupe_mark(dupe_mark_in) {}

bool CommitPending(Pop3Context& context) {
  Pop3Pending& pending = context.pending;
  const bool any_file = pending.spool.Held() > 0;
  if (!pending.spool.Commit()) {
    context.state.Pop3ErrorFlag = true;
    DiscardPending(context);
    return false;
  }
  if (any_file) context.state.MailMark = true;
  context.stores.requestbase.MarkRequestsDone(context.state, pending.fetched_requests);
  pending.fetched_requests.clear();
  return true;
}

void DiscardPending(Pop3Context& context) {
  Pop3Pending& pending = context.pending;
  pending.spool.Discard();
  context.stores.dupebase.ForgetSince(pending.dupe_mark);
  pending.fetched_requests.clear();
  pending.deleted_requests.clear();
}

void MarkDeletionsServed(Pop3Context& context) {
  Pop3Pending& pending = context.pending;
  context.stores.requestbase.MarkRequestsDone(context.state, pending.deleted_requests);
  pending.deleted_requests.clear();
}

}  // namespace postil
