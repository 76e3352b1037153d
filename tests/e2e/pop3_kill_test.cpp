// The program killed (SIGKILL) at random moments of a fetch that deletes,
// with the host importing (and removing) the spool files after every run:
// no spool file is ever left truncated under its M????.MSG name, no message
// is lost, and none is imported twice unless the kill fell between the
// naming of the session's files and the server's taking QUIT. A killed
// session names no file: its messages stay on the server (their DELE never
// took effect without QUIT) and the next run fetches them again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "e2e/pop3_fixture.h"
#include "support/test_system.h"

namespace postil::test {
namespace {

constexpr int kMessages = 200;
constexpr int kKills = 20;
constexpr unsigned kSeed = 13;  // fixed, so a failure can be replayed

bool IsSpoolName(const std::string& name) {
  return name.size() == 9 && name[0] == 'M' && name.compare(5, 4, ".MSG") == 0;
}

// The commands of `all` from `from` on: those of the last run.
std::vector<std::string> Since(const std::vector<std::string>& all, std::size_t from) {
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

bool Has(const std::vector<std::string>& commands, std::string_view prefix) {
  return std::any_of(commands.begin(), commands.end(),
                     [prefix](const std::string& c) { return c.starts_with(prefix); });
}

TEST(Pop3Kill, NoTruncatedFileNoLostMessageNoDoubleImport) {
  if (const std::string why = KilledConnectionsLinger(); !why.empty()) GTEST_SKIP() << why;
  std::vector<std::string> messages;
  std::map<std::string, std::string> by_spool;  // spool bytes -> message
  for (int n = 1; n <= kMessages; ++n) {
    messages.push_back(Message("<" + std::to_string(n) + "@kill>", "Kill " + std::to_string(n),
                               std::string(600, 'b') + "\n"));
    by_spool[SpoolBytes(messages.back() + ".\n")] = messages.back();
  }
  // Each reply a little late, so a fetch lasts long enough for the kills
  // to meet it however fast the disk is.
  FakePop3Server::Options options;
  options.pace_ms = 1;
  Pop3Run run(messages, options);
  run.Configure();
  std::map<std::string, int> imported;  // message -> times the host imported it
  // The host's import: every file under a final name holds one whole
  // message, and goes.
  const auto import = [&] {
    int files = 0;
    for (const std::string& name : run.SpoolNames()) {
      if (!IsSpoolName(name)) continue;
      const std::string bytes = run.Spool(name);
      EXPECT_TRUE(by_spool.count(bytes)) << name;
      ++imported[by_spool[bytes]];
      ++files;
      std::filesystem::remove(run.dir.PathOf("IN/" + name));
    }
    return files;
  };
  const auto started = std::chrono::steady_clock::now();
  std::mt19937 random(kSeed);
  std::uniform_int_distribution<int> delay_ms(5, 150);
  int kills_in_fetch = 0;
  int window_files = 0;  // files named by a run whose QUIT the server never took
  // Added to the delays while kills come before the first RETR, as on a
  // machine slow to start the program (sanitizers, load).
  int late_ms = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const int delay = late_ms + delay_ms(random);
    SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay) + " ms");
    const std::size_t commands_before = run.server.Commands().size();
    const std::size_t waiting = run.server.Mailbox().size();
    run.Run({}, delay);
    const std::vector<std::string> commands = Since(run.server.Commands(), commands_before);
    const int files = import();
    if (files > 0 && !Has(commands, "QUIT")) {
      // Named without QUIT: only once the whole mailbox was scanned, in the
      // moment between the naming and the QUIT.
      EXPECT_TRUE(Has(commands, "DELE " + std::to_string(waiting)));
      window_files += files;
    }
    if (run.result.timed_out && Has(commands, "RETR") && !Has(commands, "QUIT")) ++kills_in_fetch;
    if (!Has(commands, "RETR")) late_ms = std::min(late_ms + 50, 850);
    // What left the server was imported.
    const std::vector<std::string> mailbox = run.server.Mailbox();
    const std::set<std::string> on_server(mailbox.begin(), mailbox.end());
    for (const std::string& message : messages)
      ASSERT_TRUE(on_server.count(message) || imported[message] > 0);
  }
  // The delays are such that kills meet the program in the middle of
  // fetching, not only before or after.
  EXPECT_GE(kills_in_fetch, 1);
  // A run left alone collects the rest and cleans up after the killed ones.
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0) << run.result.log;
  EXPECT_TRUE(run.server.Mailbox().empty());
  import();
  EXPECT_TRUE(run.SpoolNames().empty());  // no temporary file left either
  int lost = 0;
  int doubles = 0;
  for (const std::string& message : messages) {
    lost += imported[message] == 0 ? 1 : 0;
    doubles += std::max(imported[message] - 1, 0);
  }
  std::printf(
      "kills %d, in the middle of a fetch %d, files named without QUIT %d, "
      "imported twice %d, lost %d\n",
      kKills, kills_in_fetch, window_files, doubles, lost);
  EXPECT_EQ(lost, 0);
  EXPECT_LE(doubles, window_files);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace postil::test
