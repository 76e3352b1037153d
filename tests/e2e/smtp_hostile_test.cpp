// Servers that would hold the sender or flood its log while staying within
// every single wait: the whole of the dialogue is bounded, and so is what one
// reply can write to the log.
#include <gtest/gtest.h>

#include <chrono>

#include "core/channel.h"
#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

// Three messages to four recipients each: 25 replies, each of which a
// dribbling server could stretch to just under the channel's bound.
std::string ThreeMessagesToFour() {
  std::string file = "HELO host.example\n";
  for (int message = 0; message < 3; ++message) {
    file += "MAIL FROM:<anna@example.org>\n";
    for (int to = 0; to < 4; ++to) file += "RCPT TO:<r" + std::to_string(to) + "@example.net>\n";
    file += "DATA\n\nbody\n.\n";
  }
  return file + "QUIT\n";
}

TEST(DribblingServer, IsGivenUpOnceItsRepliesFallBehind) {
  FakeSmtpServer::Options options;
  options.greeting = {"220 x"};
  // Every reply takes 3.5 s: within the 4 s the channel allows an exchange
  // at a time-out of 1 s, but 2.5 s late.
  options.dribble_ms = 500;
  SmtpRun run(options);
  for (const char* command : {"HELO", "MAIL", "RCPT", "DATA", ".", "RSET", "QUIT"}) {
    run.server.AddRule({command, {std::string(command) == "DATA" ? "354 x" : "250 x"}});
  }
  run.time_out = 1;
  run.time_limit_ms = 20000;
  run.Configure();
  const std::string file = ThreeMessagesToFour();
  run.Outgoing("M0001.OUT", file);
  const auto start = std::chrono::steady_clock::now();
  RunResult result = run.Run();
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_LT(took, std::chrono::seconds(12));
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_EQ(run.dir.Read("OUT/M0001.OUT"), file);
  // The reserve of 4 s is gone with the second reply: nothing more is sent,
  // not even QUIT.
  EXPECT_EQ(run.server.Dialogue(), (Lines{"S: 220 x", "C: HELO host.example", "S: 250 x"}));
  EXPECT_EQ(run.smtp_log,
            (Lines{"~ SMTP Starting to 127.0.0.1", "  220 x", "= SMTP Connection etablished",
                   "? Replies too slow (more than 4 seconds late in all), connection given up",
                   "- Mail from: <anna@example.org>", "? Connection lost",
                   "? Error sending: OUT\\M0001.OUT", "= SMTP to 127.0.0.1 disconnected"}))
      << result.log;
}

struct GreetingCase {
  const char* name;
  Lines greeting;
  Lines logged;  // from "SMTP Starting to" on
};
void PrintTo(const GreetingCase& c, std::ostream* os) { *os << c.name; }

Lines Numbered(std::string_view prefix, int count, std::size_t width) {
  Lines lines;
  for (int i = 0; i < count; ++i) {
    std::string line = std::string(prefix) + std::to_string(i) + " ";
    line.resize(width, 'g');
    lines.push_back(line);
  }
  return lines;
}

Lines With(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

Lines Logged(const Lines& greeting, std::size_t count) {
  Lines lines;
  for (std::size_t i = 0; i < count; ++i) lines.push_back("  " + greeting[i]);
  return lines;
}

class LongGreeting : public testing::TestWithParam<GreetingCase> {};

TEST_P(LongGreeting, LogsTheFirstLinesAndHowManyWereLeftOut) {
  const GreetingCase& c = GetParam();
  FakeSmtpServer::Options options;
  options.greeting = c.greeting;
  SmtpRun run(options);
  run.Configure();
  run.Outgoing("M0001.OUT", kBatchedFile);
  RunResult result = run.Run();
  EXPECT_EQ(LogFrom(run.smtp_log, "~ SMTP Starting to 127.0.0.1", c.logged.size()), c.logged)
      << result.log.substr(0, 2000);
  EXPECT_LT(result.log.size(), std::size_t{80000});
}

const Lines kHuge = Numbered("220-", 150, Channel::kBufferSize);
const Lines kShort = With(Numbered("220-banner ", 20, 40), {"220 ready"});
const Lines kWide = With(Numbered("220-wide ", 6, 1000), {"220 ready"});

INSTANTIATE_TEST_SUITE_P(
    Greetings, LongGreeting,
    testing::Values(
        // The client reads 100 lines, the most a reply may have, and
        // refuses the greeting that has not ended by then.
        GreetingCase{"HundredFiftyLinesOf64KiB", kHuge,
                     With(With({"~ SMTP Starting to 127.0.0.1"}, Logged(kHuge, 1)),
                          {"  ... (99 more lines of the reply not logged)",
                           "? SMTP Server 127.0.0.1 not reachable"})},
        GreetingCase{"OneLineMoreThanLogged", kShort,
                     With(With({"~ SMTP Starting to 127.0.0.1"}, Logged(kShort, 20)),
                          {"  ... (1 more line of the reply not logged)",
                           "= SMTP Connection etablished", "- Mail from: <anna@example.org>"})},
        // Four lines fill 4,000 of the 4,096 bytes; after the fifth is
        // left out, so is the short last one.
        GreetingCase{"LinesBeyondTheBytes", kWide,
                     With(With({"~ SMTP Starting to 127.0.0.1"}, Logged(kWide, 4)),
                          {"  ... (3 more lines of the reply not logged)",
                           "= SMTP Connection etablished"})}),
    [](const testing::TestParamInfo<GreetingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace postil::test
