// The POP3 worker in this process against the fake server, for what only
// the run state shows: the panel fields along the dialogue, the stop
// request and the kill keys' abort.
#include "pop3/pop3_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "filter/rule_table.h"
#include "platform/files.h"
#include "pop3/pop3_stores.h"
#include "support/fake_pop3_server.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

using test::FakePop3Server;
using Lines = std::vector<std::string>;

std::string MessageText(int n) {
  return "From: Anna Berg <anna@example.org>\nSubject: S" + std::to_string(n) + "\nMessage-ID: <" +
         std::to_string(n) + "@x>\n\nbody\n";
}

std::vector<std::string> Mailbox(int count) {
  std::vector<std::string> messages;
  for (int n = 1; n <= count; ++n) messages.push_back(MessageText(n));
  return messages;
}

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

class Pop3WorkerTest : public ::testing::Test {
 protected:
  void Configure(const FakePop3Server& server, std::string servers = "127.0.0.1",
                 std::string time_out = "5") {
    config_.Pop3Server = std::move(servers);
    config_.Pop3Port = std::to_string(server.port());
    config_.Pop3User = "user";
    config_.Pop3Pass = "secret";
    config_.Pop3Spool = dir_.path() + "\\IN";
    config_.Pop3TimeOut = std::move(time_out);
  }
  void Run(platform::DiskSync& disk = platform::SystemDiskSync()) {
    Pop3Worker(state_, config_, rules_, stores_, disk);
  }

  test::HostDir dir_;
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
  Config config_;
  RuleTable rules_;
  Pop3Stores stores_;
};

TEST_F(Pop3WorkerTest, PanelFieldsAlongTheDialogue) {
  std::mutex mutex;
  Lines seen;
  FakePop3Server server(Mailbox(2));
  server.SetCommandHook([&](const std::string& command) {
    std::lock_guard lock(mutex);
    seen.push_back(command + " | " + Trimmed(state_.Pop3SentRcvdField.Get()) + " | " +
                   Trimmed(state_.Pop3InfoField.Get()));
  });
  Configure(server);
  config_.Pop3Keep = "off";
  Run();
  const std::uint64_t size = FakePop3Server::StatedSize(MessageText(1));
  const std::string status = "2 Messages with " + std::to_string(2 * size) + " (Bytes)";
  EXPECT_EQ(seen,
            (Lines{
                "USER user | Authentification for user | Connecting ...",
                "PASS secret | Sending Password | Connecting ...",
                "STAT | Mailbox Status | ",
                "TOP 1 0 | Scanning Message 1 (of 2 Messages) | " + status,
                "RETR 1 | Scanning Message 1 (of 2 Messages) | From: Anna Berg <anna@example.org>",
                "DELE 1 | Deleting Message 1 | From: Anna Berg <anna@example.org>",
                "TOP 2 0 | Scanning Message 2 (of 2 Messages) | From: Anna Berg <anna@example.org>",
                "RETR 2 | Scanning Message 2 (of 2 Messages) | From: Anna Berg <anna@example.org>",
                "DELE 2 | Deleting Message 2 | From: Anna Berg <anna@example.org>",
                "QUIT | Quit | From: Anna Berg <anna@example.org>",
            }));
  EXPECT_EQ(Trimmed(state_.Pop3InfoField.Get()), "Disconnected");
  EXPECT_FALSE(state_.Pop3Connected);
  EXPECT_FALSE(state_.Pop3ErrorFlag);
  EXPECT_TRUE(state_.MailMark);
  EXPECT_TRUE(state_.LineEndIsLf);
  EXPECT_FALSE(state_.KeepOnServerMark);
  EXPECT_EQ(state_.MailboxSize, 2 * size);
  EXPECT_EQ(state_.MessageSize, size);
  // Each line of the last message and its "." with one LF each.
  EXPECT_EQ(state_.MessageBytesReceived, size - 5 + 2);
  EXPECT_EQ(state_.Pop3ServerName.Get(), "127.0.0.1");
  EXPECT_EQ(state_.InboundSpoolDir.Get(), dir_.path() + "\\IN\\");
  EXPECT_EQ(dir_.List("IN"), (Lines{"M0000.MSG", "M0001.MSG"}));
}

// A stop request begins no further copy; what the session has is kept and
// its deletions take effect.
TEST_F(Pop3WorkerTest, StopRequestBeginsNoFurtherCopy) {
  FakePop3Server server(Mailbox(10));
  server.SetCommandHook([&](const std::string& command) {
    if (command == "TOP 3 0") state_.ExitRequested = true;
  });
  Configure(server, "127.0.0.1 127.0.0.1");
  Run();
  EXPECT_EQ(server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1",
                                      "DELE 1", "TOP 2 0", "RETR 2", "DELE 2", "TOP 3 0", "QUIT"}));
  EXPECT_EQ(server.ConnectionCount(), 1);  // no further account
  EXPECT_EQ(Trimmed(state_.Pop3InfoField.Get()), "Exit requested by User");
  EXPECT_EQ(server.Mailbox().size(), 8u);
  EXPECT_EQ(dir_.List("IN"), (Lines{"M0000.MSG", "M0001.MSG"}));
  EXPECT_FALSE(state_.Pop3ErrorFlag);
}

// A stop request in the middle of a message that never ends cuts the copy
// at once. The dialogue is out of step, so there is no QUIT: the session's
// files go and the server keeps every message.
TEST_F(Pop3WorkerTest, StopRequestCutsACopyThatGoesOn) {
  FakePop3Server server(Mailbox(3));
  server.SetRetrFault(2, 10, FakePop3Server::RetrFault::kEndlessSlow);
  std::promise<void> retr_sent;
  server.SetCommandHook([&](const std::string& command) {
    if (command == "RETR 2") retr_sent.set_value();
  });
  std::future<std::chrono::steady_clock::time_point> stopper = std::async(std::launch::async, [&] {
    // A few of the slow lines arrive first; then the user stops.
    if (retr_sent.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready)
      std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    state_.ExitRequested = true;
    return std::chrono::steady_clock::now();
  });
  Configure(server, "127.0.0.1", "30");
  Run();
  const auto ended = std::chrono::steady_clock::now();
  EXPECT_LT(ended - stopper.get(), std::chrono::seconds(2));
  server.Stop();
  EXPECT_EQ(server.Commands(), (Lines{"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1",
                                      "DELE 1", "TOP 2 0", "RETR 2"}));
  EXPECT_TRUE(dir_.List("IN").empty());
  EXPECT_EQ(server.Mailbox().size(), 3u);
}

// The kill keys abort the connection from another thread: the worker's
// wait ends at once, not after the time-out, and nothing partial is left.
TEST_F(Pop3WorkerTest, AbortEndsTheCopyAtOnce) {
  std::promise<void> retr_sent;
  FakePop3Server server(Mailbox(2));
  server.SetRetrFault(1, 20, FakePop3Server::RetrFault::kStall);
  server.SetCommandHook([&](const std::string& command) {
    if (command == "RETR 1") retr_sent.set_value();
  });
  Configure(server, "127.0.0.1", "30");
  auto started = std::chrono::steady_clock::now();
  std::future<void> worker = std::async(std::launch::async, [&] { Run(); });
  ASSERT_EQ(retr_sent.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the worker now waits for data
  EXPECT_TRUE(state_.Pop3Socket.Abort());
  EXPECT_EQ(worker.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  worker.get();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(state_.Pop3ErrorFlag);
  EXPECT_TRUE(dir_.List("IN").empty());
  EXPECT_FALSE(state_.Pop3Socket.Abort());  // detached before it was closed
  server.Stop();
  EXPECT_EQ(server.Mailbox().size(), 2u);
}

// The session's spool files are synced twice before QUIT, however many
// there are: their data, then their names. When the first sync fails, QUIT
// is not sent: the connection is closed, so the server deletes nothing,
// the files go unnamed, the Dupebase forgets what it learnt, and the error
// bit is set.
class CountingSync : public platform::DiskSync {
 public:
  explicit CountingSync(bool fails) : fails_(fails) {}
  bool SyncFileSystem(const platform::FileHandle&) override {
    ++calls;
    return !fails_;
  }
  int calls = 0;

 private:
  bool fails_;
};

TEST_F(Pop3WorkerTest, OneSyncBeforeQuitAndNoQuitWhenItFails) {
  for (const bool keep : {false, true}) {
    for (const bool fails : {false, true}) {
      SCOPED_TRACE(std::string(keep ? "keep" : "delete") + (fails ? ", sync fails" : ""));
      test::HostDir dir;
      dir.MakeDir("IN");
      FakePop3Server server(Mailbox(3));
      Configure(server);
      config_.Pop3Spool = dir.path() + "\\IN";
      config_.Pop3Keep = keep ? "on" : "off";
      state_.Pop3ErrorFlag = false;
      stores_ = Pop3Stores();
      CountingSync disk(fails);
      Run(disk);
      server.Stop();
      Lines expected = {"USER user", "PASS secret", "STAT"};
      for (int n = 1; n <= 3; ++n) {
        for (std::string command : {"TOP ", "RETR ", "DELE "}) {
          if (!(keep && command == "DELE "))
            expected.push_back(command + std::to_string(n) + (command == "TOP " ? " 0" : ""));
        }
      }
      if (!fails) expected.push_back("QUIT");
      EXPECT_EQ(server.Commands(), expected);
      EXPECT_EQ(disk.calls, fails ? 1 : 2);
      EXPECT_EQ(server.Mailbox().size(), keep || fails ? 3u : 0u);
      EXPECT_EQ(state_.Pop3ErrorFlag, fails);
      const Lines files = {"M0000.MSG", "M0001.MSG", "M0002.MSG"};
      EXPECT_EQ(dir.List("IN"), fails ? Lines() : files);
      EXPECT_EQ(stores_.dupebase.DupeData(), keep && !fails ? "<1@x>\r\n<2@x>\r\n<3@x>\r\n" : "");
      EXPECT_EQ(Trimmed(state_.Pop3InfoField.Get()), "Disconnected");
    }
  }
}

}  // namespace
}  // namespace postil
