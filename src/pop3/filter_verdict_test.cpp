// The filter's verdict carried out for one scanned message, and the step's
// boundary around the filter: a failure in it leaves the message as it was.
#include <gtest/gtest.h>

#include "config/config.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "filter/killfile.h"
#include "filter/rule_table.h"
#include "pop3/message_scan.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_stores.h"
#include "support/failing_clock.h"
#include "support/pop3_parts.h"

namespace postil {
namespace {

TEST(FilterVerdictTest, FailureInTheFilterEndsTheStepWithoutAVerdict) {
  test::FailingClock clock;
  RunState state(clock);
  Config config;
  config.FilterActive = true;
  RuleTable rules;
  AddKillfileLine("--- ALLE", &rules);
  AddKillfileLine("KILLALL\xAFSKIP", &rules);
  const Pop3Account account;
  test::Pop3Parts parts(state, config, rules, account);
  Pop3Context& context = parts.context;
  auto scanned = [] {
    ScannedMessage message;
    message.header.message_id = "<1@example.org>";
    message.header_lines = {"", "Subject: hello"};
    message.recipient = "bob@example.net";
    return message;
  };

  ScannedMessage decided = scanned();
  ApplyFilterVerdict(context, &decided);
  EXPECT_EQ(decided.action, MessageAction::kSkip);  // the rule decides

  clock.Arm();  // the filter's time of day runs out of memory
  ScannedMessage failed = scanned();
  ASSERT_NO_THROW(ApplyFilterVerdict(context, &failed));
  EXPECT_EQ(failed.action, MessageAction::kFetch);
  EXPECT_EQ(failed.recipient, "bob@example.net");
  EXPECT_EQ(state.KillCount, 0u);
}

}  // namespace
}  // namespace postil
