// A batched file of several messages on a disk that is full: a fault only a
// seam can make. The SMTP worker runs in this process against a fake server.
#include "smtp/spool_remainder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "e2e/smtp_fixture.h"
#include "smtp/smtp_worker.h"
#include "support/fixed_clock.h"

namespace postil {
namespace {

using Lines = std::vector<std::string>;

class FullDisk final : public SpoolRewriter {
 public:
  bool Rewrite(const std::string&, std::uint64_t, std::uint64_t, std::string* err) override {
    *err = "No space left on device";
    return false;
  }
};

const char kTwoMessages[] =
    "HELO host.example\n"
    "MAIL FROM:<anna@example.org>\nRCPT TO:<one@example.net>\nDATA\n\none\n.\n"
    "MAIL FROM:<anna@example.org>\nRCPT TO:<two@example.net>\nDATA\n\ntwo\n.\n"
    "QUIT\n";

// What the fake server sees of one message, after the greeting.
Lines Transaction(const std::string& recipient) {
  return {"C: MAIL FROM:<anna@example.org>",
          "S: 250 2.1.0 Ok",
          "C: RCPT TO:<" + recipient + ">",
          "S: 250 2.1.5 Ok",
          "C: DATA",
          "S: 354 End data with <CR><LF>.<CR><LF>",
          "C: .",
          "S: 250 2.0.0 Ok: queued"};
}

// A connection that sends the messages to `recipients`.
Lines Connection(const Lines& recipients) {
  Lines lines = {"S: 220 fake.test ESMTP ready", "C: HELO host.example", "S: 250 fake.test"};
  for (const std::string& recipient : recipients) {
    Lines transaction = Transaction(recipient);
    lines.insert(lines.end(), transaction.begin(), transaction.end());
  }
  lines.insert(lines.end(), {"C: QUIT", "S: 221 2.0.0 Bye"});
  return lines;
}

// The file cannot be cut after the first message: the second does not go,
// and the next run (with room on the disk) sends the first message again,
// but the second only once. (Without the stop, both would go in the first
// run and both again in the next whenever the file had stayed.)
TEST(SpoolRemainderTest, AFileThatCannotBeCutStopsAfterTheMessageDone) {
  test::HostDir dir;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  test::FixedClock clock{test::SampleTime()};
  test::FakeSmtpServer server;
  dir.Write("OUT/M0001.OUT", kTwoMessages);
  Config config;
  config.SmtpServer = "127.0.0.1";
  config.SmtpPort = std::to_string(server.port());
  config.SmtpSpool = "OUT";
  config.SmtpTimeOut = "5";
  FullDisk full_disk;
  std::vector<bool> error_flags;
  Lines first_log;
  for (SpoolRewriter* rewriter : {static_cast<SpoolRewriter*>(&full_disk), &DiskSpoolRewriter()}) {
    RunState state(clock);
    state.log.SetupLog(std::nullopt);
    SmtpWorker(state, config, *rewriter);
    state.log.CloseLogs();
    error_flags.push_back(state.SmtpErrorFlag);
    if (first_log.empty()) {
      first_log = test::SmtpLogLines(dir.Read("QUIL.LOG"));
      EXPECT_EQ(dir.Read("OUT/M0001.OUT"), kTwoMessages);
    }
  }
  std::filesystem::current_path(old_dir);

  EXPECT_EQ(error_flags, (std::vector<bool>{true, false})) << dir.Read("QUIL.LOG");
  EXPECT_FALSE(dir.Exists("OUT/M0001.OUT"));
  Lines dialogue = Connection({"one@example.net"});
  Lines second = Connection({"one@example.net", "two@example.net"});
  dialogue.insert(dialogue.end(), second.begin(), second.end());
  EXPECT_EQ(server.Dialogue(), dialogue);
  Lines data;
  for (const auto& message : server.Messages()) data.push_back(message.data);
  EXPECT_EQ(data, (Lines{"\r\none\r\n.\r\n", "\r\none\r\n.\r\n", "\r\ntwo\r\n.\r\n"}));
  EXPECT_EQ(test::LogFrom(first_log, "? Error rewriting Spoolfile", 4),
            (Lines{"? Error rewriting Spoolfile",
                   "? No further message sent from OUT\\M0001.OUT (No space left on device): the "
                   "one sent last goes again in the next run",
                   "? Error sending: OUT\\M0001.OUT", "= SMTP to 127.0.0.1 disconnected"}))
      << dir.Read("QUIL.LOG");
}

}  // namespace
}  // namespace postil
