// The mail filter as the host sees it: a box-file configuration with a
// killfile, one run of the real binary against the fake POP3 server, then
// the commands the server received, the spool files byte for byte and the
// verdict's log lines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "e2e/pop3_fixture.h"
#include "support/test_system.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

// Killfile bytes (code page 437).
constexpr std::string_view kAction = "\xAF";
constexpr std::string_view kOption = "\xEA";

const std::string kSubject = "Win a prize now";
const std::string kHeader = "From: Anna Berg <anna@example.org>\nTo: me@example.org\nSubject: " +
                            kSubject + "\nMessage-ID: <1@x>\nX-Mailer: Mass Mailer 2\n\n";
const std::string kMessage = kHeader + "Body line\n";
const std::uint64_t kSize = FakePop3Server::StatedSize(kMessage);

// The three-line block of a filter verdict for kMessage.
std::string FilterBlock(std::string_view reason) { return VerdictBlock(kSubject, reason); }

std::string FetchedLine() { return "  Message 1 <1@x>" + Block(kSubject); }

// A killfile made of `lines`, each ended with CR LF.
std::string Killfile(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// A rule line "<condition> 0xAF<action>"; the reason text the log shows for
// it is the same with the trailing blank the loader appends.
std::string Rule(std::string_view condition, std::string_view action) {
  return std::string(condition) + " " + std::string(kAction) + std::string(action);
}
std::string Reason(std::string_view condition, std::string_view action) {
  return Rule(condition, action) + " ";
}

class FilterRun {
 public:
  explicit FilterRun(std::vector<std::string> messages, FakePop3Server::Options options = {})
      : server(std::move(messages), std::move(options)) {}

  // Box-file configuration QV.BFG for the fake server; `killfile` becomes
  // FILTER.KIL (none without it). `extra` lines go first, so they win.
  void Configure(std::optional<std::string_view> killfile, const Lines& extra = {},
                 bool host_release = false) {
    std::string text;
    for (const std::string& line : extra) text += line + "\r\n";
    text += "Pop3Server=127.0.0.1\r\nPop3Port=" + std::to_string(server.port()) +
            "\r\nPop3User=user\r\nPop3Pass=secret\r\nPop3Spool=SPOOL\r\nPop3TimeOut=5\r\n"
            "PPP_Killfile=FILTER.KIL\r\nSmtpServer=disabled\r\n";
    dir.Write("QV.BFG", text);
    if (killfile) dir.Write("FILTER.KIL", *killfile);
    if (host_release) dir.WriteHostExe(true);
  }

  void Run(std::vector<std::pair<std::string, std::string>> env = {}) {
    result = RunPostilIn(dir, {"QV.BFG"}, std::move(env));
    log = Pop3LogLines(result.log);
  }

  // The commands after the login, without the closing QUIT.
  Lines MessageCommands() const {
    Lines all = server.Commands();
    const Lines login = {"USER user", "PASS secret", "STAT"};
    if (all.size() < login.size() + 1 || !std::equal(login.begin(), login.end(), all.begin()) ||
        all.back() != "QUIT")
      return all;  // shown whole by the failing comparison
    return Lines(all.begin() + login.size(), all.end() - 1);
  }

  // The verdict's and the messages' lines: the log between the STAT line
  // and the disconnect, both of which must be there.
  Lines MessageLog() const {
    auto stat = std::find_if(log.begin(), log.end(),
                             [](const std::string& line) { return line.rfind("% ", 0) == 0; });
    auto end = std::find(log.begin(), log.end(), "= POP3 to 127.0.0.1 disconnected");
    if (stat == log.end() || end == log.end() || end < stat) return log;
    return Lines(stat + 1, end);
  }

  Lines SpoolNames() const { return dir.List("SPOOL"); }
  std::string Spool(std::string_view name) const {
    return MaskReceivedTime(dir.Read("SPOOL/" + std::string(name)));
  }

  HostDir dir;
  FakePop3Server server;
  RunResult result;
  Lines log;
};

TEST(Filter, LoadedFromTheBoxFileAndLoggedOnce) {
  FilterRun run({kMessage});
  run.Configure(Killfile({"--- ALLE", Rule("\"*PRIZE*\"", "SKIP")}));
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
  EXPECT_EQ(run.log, (Lines{
                         "+ Loading Sortwarden Configuration",
                         "  Creating directory: SPOOL\\",
                         "~ POP3 Starting to 127.0.0.1",
                         "  +OK POP3 fake server ready",
                         "+ Sending USER",
                         "+ Sending PASS",
                         "= POP3 Connection etablished",
                         "% 1 Messages with " + std::to_string(kSize) + " (Bytes)",
                         "- Filter: <1@x>" + FilterBlock(Reason("\"*PRIZE*\"", "SKIP")),
                         "= POP3 to 127.0.0.1 disconnected",
                     }));
}

// The killfile is read only from a box-file configuration; a missing one
// is reported and every message is fetched.
TEST(Filter, OwnStyleConfigurationIgnoresTheKillfileAndAMissingOneIsReported) {
  Pop3Run own_style({kMessage});
  own_style.dir.Write("FILTER.KIL", Killfile({"--- ALLE", Rule("\"*PRIZE*\"", "DELE")}));
  own_style.Configure({"$PPP_Killfile=FILTER.KIL"});
  own_style.Run();
  EXPECT_EQ(own_style.server.Commands(),
            (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "DELE 1", "QUIT"}));
  EXPECT_FALSE(own_style.Logged("+ Loading Sortwarden Configuration"));

  FilterRun missing({kMessage});
  missing.Configure(std::nullopt);
  missing.Run();
  EXPECT_EQ(missing.MessageCommands(), (Lines{"TOP 1 0", "RETR 1", "DELE 1"}));
  EXPECT_NE(std::find(missing.log.begin(), missing.log.end(), "+ Sortwarden Configuration not found"),
            missing.log.end());
}

struct VerdictCase {
  std::string name;
  Lines killfile;
  Lines extra_config;
  bool host_release;
  Lines commands;                      // after the login, without QUIT
  std::optional<std::string> spool;    // the one spool file's content, if any
  std::string recipient;
  Lines message_log;
  bool stays_on_server;
};

// ctest shows the case by its name.
void PrintTo(const VerdictCase& c, std::ostream* out) { *out << c.name; }

std::vector<VerdictCase> VerdictCases() {
  const std::string prize = "\"*PRIZE*\"";
  const std::string size = std::to_string(kSize);
  const std::string stub_summary =
      "X-QV-Mode: TopOfMail\nSummary: Message filtered (Original Size: " + size + " Byte)\n";
  const std::string kept = "postmaster@localhost";
  return {
      // RETR wins over the size limit.
      {"RetrOverridesTheSizeLimit", {"--- ALLE", Rule(prize, "RETR")}, {"Pop3MaxLen=10"}, false,
       {"TOP 1 0", "RETR 1", "DELE 1"}, kMessage + ".\n", kept, {FetchedLine()}, false},
      {"SkipLeavesTheMessage", {"--- ALLE", Rule(prize, "SKIP")}, {}, false, {"TOP 1 0"},
       std::nullopt, kept, {"- Filter: <1@x>" + FilterBlock(Reason(prize, "SKIP"))}, true},
      // Without the host's release marker the stub is the bare header,
      // followed by the stub writer's own LF.
      {"HeadStubForAnOldHost", {"--- ALLE", Rule(prize + " " + std::string(kOption) + "S", "HEAD")},
       {}, false, {"TOP 1 0"}, kHeader + "\n.\n", kept,
       {"- Header: <1@x>" + FilterBlock(Reason(prize + " \xEAS", "HEAD"))}, true},
      {"HeadStubWithSummaryForAReleaseHost", {"--- ALLE", Rule(prize, "HEAD")}, {}, true,
       {"TOP 1 0"}, stub_summary + kHeader + ".\n", kept,
       {"- Header: <1@x>" + FilterBlock(Reason(prize, "HEAD"))}, true},
      {"DeleKillsUnseen", {"--- ALLE", Rule(prize, "DELE")}, {}, false, {"TOP 1 0", "DELE 1"},
       std::nullopt, kept, {"- Killing: <1@x>" + FilterBlock(Reason(prize, "DELE"))}, false},
      // A kill deletes even when mail is kept on the server.
      {"DeleEvenWhenKeepingMail", {"--- ALLE", Rule(prize, "DELE")}, {"Pop3Keep=on"}, false,
       {"TOP 1 0", "DELE 1"}, std::nullopt, kept,
       {"- Killing: <1@x>" + FilterBlock(Reason(prize, "DELE"))}, false},
      // A header name that is no alias searches the scanned header lines.
      {"HeaderLineByName", {"--- ALLE", Rule("\"*MASS*\" \xEA\"X-MAILER:\"", "SKIP")}, {}, false,
       {"TOP 1 0"}, std::nullopt, kept,
       {"- Filter: <1@x>" + FilterBlock(Reason("\"*MASS*\" \xEA\"X-MAILER:\"", "SKIP"))}, true},
      {"RedirectByEnvelopeTo", {"--- ALLE", Rule(prize, "ENVELOPE-TO:  box@example.org")}, {},
       false, {"TOP 1 0", "RETR 1", "DELE 1"}, kMessage + ".\n", "box@example.org",
       {FetchedLine()}, false},
      // Every rule holds; the unknown action of the last one leaves DELE.
      {"LastKnownActionWins",
       {"--- ALLE", Rule(prize, "SKIP"), Rule(prize, "DELE"), Rule("\"*\"", "FORWARD")}, {}, false,
       {"TOP 1 0", "DELE 1"}, std::nullopt, kept,
       {"- Killing: <1@x>" + FilterBlock(Reason(prize, "DELE"))}, false},
      // "Q" ends the walk, also before a later section.
      {"QStopsTheWalk",
       {"--- ALLE", Rule(prize + " \xEASQ", "SKIP"), "--- ALLE", Rule(prize, "DELE")}, {}, false,
       {"TOP 1 0"}, std::nullopt, kept,
       {"- Filter: <1@x>" + FilterBlock(Reason(prize + " \xEASQ", "SKIP"))}, true},
      // The real size from the TOP reply: BYTES@n holds up to it, "LEN:"
      // yields it.
      {"BytesAtTheSizeHolds", {"--- ALLE", Rule("BYTES@" + size, "SKIP")}, {}, false, {"TOP 1 0"},
       std::nullopt, kept, {"- Filter: <1@x>" + FilterBlock(Reason("BYTES@" + size, "SKIP"))},
       true},
      {"BytesAboveTheSizeFails",
       {"--- ALLE", Rule("BYTES@" + std::to_string(kSize + 1), "SKIP")}, {}, false,
       {"TOP 1 0", "RETR 1", "DELE 1"}, kMessage + ".\n", kept, {FetchedLine()}, false},
      {"LenHeaderNameIsTheSize", {"--- ALLE", Rule("\"" + size + "\" \xEA\"LEN:\"", "SKIP")}, {},
       false, {"TOP 1 0"}, std::nullopt, kept,
       {"- Filter: <1@x>" + FilterBlock(Reason("\"" + size + "\" \xEA\"LEN:\"", "SKIP"))}, true},
      // "NN" is the From search once, not N + N = the Subject's bit.
      {"RepeatedLetterCountsOnce", {"--- ALLE", Rule("\"*ANNA*\" \xEANN", "SKIP")}, {}, false,
       {"TOP 1 0"}, std::nullopt, kept,
       {"- Filter: <1@x>" + FilterBlock(Reason("\"*ANNA*\" \xEANN", "SKIP"))}, true},
      {"NoRuleHoldsNoVerdict", {"--- ALLE", Rule("\"*LOTTO*\"", "DELE")}, {"Pop3MaxLen=10"},
       false, {"TOP 1 0"},
       "X-QV-Mode: TopOfMail\nSummary: Message too long, ignored (Original Size: " + size +
           " Byte)\n" + kHeader + ".\n",
       kept, {"- Message to long: <1@x>" + Block(kSubject)}, true},
  };
}

class FilterVerdicts : public testing::TestWithParam<VerdictCase> {};

TEST_P(FilterVerdicts, CommandsSpoolAndLog) {
  const VerdictCase& c = GetParam();
  FilterRun run({kMessage});
  run.Configure(Killfile(c.killfile), c.extra_config, c.host_release);
  run.Run();

  EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
  EXPECT_EQ(run.MessageCommands(), c.commands);
  EXPECT_EQ(run.MessageLog(), c.message_log);
  if (c.spool) {
    ASSERT_EQ(run.SpoolNames(), Lines{"M0000.MSG"});
    EXPECT_EQ(run.Spool("M0000.MSG"), SpoolBytes(*c.spool, c.recipient));
  } else {
    EXPECT_TRUE(run.SpoolNames().empty());
  }
  EXPECT_EQ(run.server.Mailbox(), c.stays_on_server ? Lines{kMessage} : Lines{});
}

INSTANTIATE_TEST_SUITE_P(Filter, FilterVerdicts, testing::ValuesIn(VerdictCases()),
                         [](const testing::TestParamInfo<VerdictCase>& info) {
                           return info.param.name;
                         });

// A kill plays PLONK.WAV through the first sound player on the PATH: here
// a script that notes its arguments.
TEST(Filter, KillPlaysTheSound) {
  if (!test::SoundPlayerIsAProgram()) {
    GTEST_SKIP() << "the system plays the sound itself; no player program to stand in for";
  }
  FilterRun run({kMessage});
  run.Configure(Killfile({"--- ALLE", Rule("\"*PRIZE*\"", "DELE")}));
  run.dir.Write("PLONK.WAV", "RIFF");
  run.dir.Write("bin/aplay", "#!/bin/sh\necho \"$@\" > played.tmp && mv played.tmp played\n");
  std::filesystem::permissions(run.dir.PathOf("bin/aplay"), std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  run.Run({{"PATH", run.dir.PathOf("bin") + ":" + (path != nullptr ? path : "/usr/bin:/bin")}});
  EXPECT_EQ(run.MessageCommands(), (Lines{"TOP 1 0", "DELE 1"}));
  // The player is detached and may still be starting.
  for (int i = 0; i < 100 && !run.dir.Exists("played"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(run.dir.Exists("played"));
  EXPECT_EQ(run.dir.Read("played"), "-q PLONK.WAV\n");
}

// More than 5000 countable lines (lines times sections) are evaluated like
// any other killfile: the rule after 5000 others still kills.
TEST(Filter, OversizedKillfileStillFilters) {
  Lines killfile = {"--- ALLE"};
  killfile.insert(killfile.end(), 5000, Rule("\"*LOTTO*\"", "SKIP"));
  killfile.push_back(Rule("\"*PRIZE*\"", "DELE"));
  FilterRun run({kMessage});
  run.Configure(Killfile(killfile));
  run.Run();
  EXPECT_EQ(run.MessageCommands(), (Lines{"TOP 1 0", "DELE 1"}));
  EXPECT_EQ(run.MessageLog(),
            Lines{"- Killing: <1@x>" + FilterBlock(Reason("\"*PRIZE*\"", "DELE"))});
}

// The demo's killfile, as shipped: the prize spam is killed, the list
// message comes as a header stub, other mail is fetched.
TEST(Filter, DemoKillfile) {
  const std::filesystem::path source =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
      "tools/mailsim/demo/FILTER.KIL";
  std::ifstream in(source, std::ios::binary);
  ASSERT_TRUE(in) << source;
  const std::string killfile{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  const std::string spam = "From: Prize Office <prizes@lotto.example>\nTo: anna@point.example\n"
                           "Subject: You are a winner of 1,000,000 !!!\n"
                           "Message-ID: <spam@x>\n\nSend your bank details.\n";
  const std::string list_header = "From: Point List <announce@lists.example>\n"
                                  "To: anna@point.example\nSubject: [announce] Nodelist\n"
                                  "Message-ID: <list@x>\n\n";
  const std::string list = list_header + "The nodelist is out.\n";
  // The list's address in the Subject is no reason to cut a message.
  const std::string friendly = "From: Bernd <bernd@hills.example>\nTo: anna@point.example\n"
                               "Subject: Join announce@lists.example, a winning idea\n"
                               "Message-ID: <ok@x>\n\nSee you.\n";
  FilterRun run({spam, list, friendly});
  run.Configure(killfile, {}, true);
  run.Run();

  EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
  EXPECT_EQ(run.MessageCommands(),
            (Lines{"TOP 1 0", "DELE 1", "TOP 2 0", "TOP 3 0", "RETR 3", "DELE 3"}));
  EXPECT_EQ(run.server.Mailbox(), Lines{list});
  ASSERT_EQ(run.SpoolNames(), (Lines{"M0000.MSG", "M0001.MSG"}));
  EXPECT_EQ(run.Spool("M0000.MSG"),
            SpoolBytes("X-QV-Mode: TopOfMail\nSummary: Message filtered (Original Size: " +
                       std::to_string(FakePop3Server::StatedSize(list)) + " Byte)\n" +
                       list_header + ".\n"));
  EXPECT_EQ(run.Spool("M0001.MSG"), SpoolBytes(friendly + ".\n"));
  const Lines log = run.MessageLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("- Killing: <spam@x>\n\t\t\t\xC3 from: Prize Office <prizes@lotto.example>"
                         "\n\t\t\t\xC3 Subject: You are a winner of 1,000,000 !!!"
                         "\n\t\t\t\xC0 Reason: \"*WINNER*\" ",
                         0),
            0u)
      << log[0];
  EXPECT_EQ(log[1].rfind("- Header: <list@x>\n\t\t\t\xC3 from: Point List <announce@lists.example>",
                         0),
            0u)
      << log[1];
  EXPECT_EQ(log[2].rfind("  Message 3 <ok@x>", 0), 0u) << log[2];
}

}  // namespace
}  // namespace postil::test
