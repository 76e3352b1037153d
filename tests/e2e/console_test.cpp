// The status panel and the keys on a real terminal: the built binary runs in
// a pane of a private tmux server, against servers on 127.0.0.1 that greet
// and then stall, so the workers sit waiting while keys are sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "support/fake_server.h"
#include "support/host_dir.h"

namespace postil::test {
namespace {

constexpr int kTmuxCommandMs = 10000;
constexpr int kPanelShownMs = 15000;
constexpr int kRunEndsMs = 15000;
constexpr int kPollMs = 50;

std::string FindTmux() {
  std::string path_list = platform::GetEnvironment("PATH");
  std::size_t start = 0;
  while (start <= path_list.size()) {
    std::size_t end = std::min(path_list.find(':', start), path_list.size());
    std::string candidate = path_list.substr(start, end - start) + "/tmux";
    if (end > start && platform::FileExists(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

template <typename Condition>
bool WaitFor(Condition condition, int time_limit_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_limit_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return true;
}

std::string Repeat(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

// A tmux server of its own with one pane (80 x 25 unless told); killed with
// everything in it when the object goes.
class TmuxPane {
 public:
  TmuxPane(std::string tmux, std::string socket)
      : tmux_(std::move(tmux)), socket_(std::move(socket)) {}
  ~TmuxPane() { Run({"kill-server"}); }

  bool Start(const std::string& dir, const std::string& shell_command, int columns = 80,
             int rows = 25) {
    return Run({"-f", "/dev/null", "new-session", "-d", "-s", "t", "-x", std::to_string(columns),
                "-y", std::to_string(rows), "-c", dir, "sh", "-c", shell_command})
               .exit_code == 0;
  }
  void Resize(int columns, int rows) {
    Run({"resize-window", "-t", "t", "-x", std::to_string(columns), "-y", std::to_string(rows)});
  }
  // The pane's text, one line per row (trailing blanks dropped by tmux).
  std::vector<std::string> Lines() {
    std::string text = Run({"capture-pane", "-p", "-t", "t"}).output;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  bool Shows(const std::string& text) {
    for (const std::string& line : Lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // A tmux format of the pane, such as "#{alternate_on}".
  std::string Format(const std::string& format) {
    std::string text = Run({"display-message", "-p", "-t", "t", format}).output;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  void SendKey(const std::string& key) { Run({"send-keys", "-t", "t", key}); }

 private:
  platform::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {tmux_, "-S", socket_});
    platform::ProcessOptions options;
    options.time_limit_ms = kTmuxCommandMs;
    return platform::RunProcess(args, options);
  }

  std::string tmux_;
  std::string socket_;
};

// A server that greets with `greeting`, takes the client's first command
// and then says nothing more. Once that command arrived, the worker has its
// connection in place for the kill keys.
std::unique_ptr<FakeServer> StallingServer(const std::string& greeting) {
  return std::make_unique<FakeServer>([greeting](FakeConnection& connection) {
    connection.SendLine(greeting);
    std::string command;
    connection.ReadLine(&command);
    connection.StallUntilStopped();
  });
}

// The worker is waiting for the answer to its first command.
bool Waiting(FakeServer& server) { return server.Lines().size() == 1; }

class ConsoleEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    tmux_path_ = FindTmux();
    if (tmux_path_.empty()) GTEST_SKIP() << "tmux is not installed";
    pane_ = std::make_unique<TmuxPane>(tmux_path_, dir_.PathOf("tmux.sock"));
  }

  // Runs POSTIL on POSTIL.CFG in the pane; afterwards the shell shows the
  // exit code and whether the terminal mode is what it was before. The shell
  // outlives the signals from the keyboard, which reach POSTIL as usual.
  // The locale is set, so the panel's glyphs do not depend on the caller's;
  // `environment` adds or overrides variables (e.g. "TERM=dumb").
  void StartRun(const std::string& config, const std::string& environment = "") {
    dir_.Write("POSTIL.CFG", config);
    const std::string command =
        "ulimit -c 0; trap : INT QUIT; mode=$(stty -g); echo before-run; LC_ALL=C.UTF-8 "
        "XDG_RUNTIME_DIR='" + dir_.RuntimePath() + "' " + environment + " '" +
        std::string(POSTIL_BINARY) +
        "' POSTIL.CFG; echo \"EXIT=$?\"; "
        "if [ \"$mode\" = \"$(stty -g)\" ]; then echo MODE=same; else echo MODE=changed; fi; "
        "sleep 600";
    ASSERT_TRUE(pane_->Start(dir_.path(), command, pane_columns_, pane_rows_));
    if (environment.find("TERM=dumb") != std::string::npos) return;
    ASSERT_TRUE(WaitFor([&] { return pane_->Shows("POSTIL - QUIL v1.99g"); }, kPanelShownMs))
        << "no panel";
  }

  // Waits for the run to end and checks that the terminal is as before.
  void ExpectRunEndedAndTerminalRestored() {
    ASSERT_TRUE(WaitFor([&] { return pane_->Shows("EXIT="); }, kRunEndsMs)) << "run goes on";
    EXPECT_TRUE(pane_->Shows("MODE=same"));
    EXPECT_TRUE(pane_->Shows("before-run"));
    EXPECT_TRUE(pane_->Shows("POSTIL/Win32 v1.99g"));
    EXPECT_FALSE(pane_->Shows("Information:"));
    EXPECT_EQ(pane_->Format("#{alternate_on} #{cursor_flag}"), "0 1");
  }

  std::vector<std::string> LogLines() { return test::LogLines(dir_.Read("QUIL.LOG")); }
  bool LogHas(const std::string& line) {
    std::vector<std::string> lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  HostDir dir_;
  std::string tmux_path_;
  std::unique_ptr<TmuxPane> pane_;
  int pane_columns_ = 80;
  int pane_rows_ = 25;
};

std::string SmtpConfig(const std::string& ports, const std::string& servers, int time_out) {
  return "$Pop3Server=disabled\r\n$SmtpServer=" + servers + "\r\n$SmtpPort=" + ports +
         "\r\n$SmtpSpool=OUT\r\n$SmtpTimeOut=" + std::to_string(time_out) + "\r\n";
}

// Two SMTP servers that stall after the greeting, the first with a short
// time-out: a stop request keeps the second from ever being tried.
class StopRequestTest : public ConsoleEndToEnd {
 protected:
  void StartAgainstTwoStallingServers(const std::string& environment = "") {
    dir_.Write("OUT/M0001.OUT",
               "HELO here\r\nMAIL FROM:<a@here>\r\nRCPT TO:<b@there>\r\nDATA\r\n"
               "Subject: x\r\n\r\nbody\r\n.\r\nQUIT\r\n");
    StartRun(SmtpConfig(std::to_string(first_->port()) + " " + std::to_string(second_->port()),
                        "127.0.0.1 127.0.0.1", 3),
             environment);
    ASSERT_TRUE(WaitFor([&] { return Waiting(*first_); }, kPanelShownMs));
  }
  void ExpectStoppedAfterTheFirstServer() {
    ExpectRunEndedAndTerminalRestored();
    EXPECT_TRUE(pane_->Shows("EXIT=2"));  // the first server's time-out
    EXPECT_EQ(second_->ConnectionCount(), 0);
  }

  std::unique_ptr<FakeServer> first_ = StallingServer("220 first.test ready");
  std::unique_ptr<FakeServer> second_ = StallingServer("220 second.test ready");
};

TEST_F(StopRequestTest, PanelIsShownAndEscStopsTheRun) {
  ASSERT_NO_FATAL_FAILURE(StartAgainstTwoStallingServers());
  std::vector<std::string> lines = pane_->Lines();
  ASSERT_GE(lines.size(), 20u);
  EXPECT_EQ(lines[5], "     ┌" + Repeat("─", 68) + "┐");
  EXPECT_TRUE(
      lines[6].starts_with("     │ POSTIL - QUIL v1.99g      (PreView Release for QV2)       0"))
      << lines[6];
  EXPECT_EQ(lines[7], "     ├" + Repeat("─", 68) + "┤");
  EXPECT_EQ(lines[8],
            "     │ Pop3-Server:                                          Connect: [ ] │");
  EXPECT_TRUE(lines[12].starts_with("     │ Smtp-Server: 127.0.0.1                           "))
      << lines[12];
  EXPECT_EQ(lines[18], "     └" + Repeat("─", 68) + "┘");
  EXPECT_EQ(pane_->Format("#{alternate_on} #{cursor_flag}"), "1 0");

  pane_->SendKey("Escape");
  ExpectStoppedAfterTheFirstServer();
}

// Started in a terminal too small for it, the panel is cut at the edges (no
// text wraps into the next row) and drawn whole once the terminal grows.
TEST_F(StopRequestTest, ASmallTerminalClipsThePanelUntilItGrows) {
  pane_columns_ = 60;
  pane_rows_ = 20;
  ASSERT_NO_FATAL_FAILURE(StartAgainstTwoStallingServers());
  std::vector<std::string> lines = pane_->Lines();
  ASSERT_GE(lines.size(), 19u);
  EXPECT_EQ(lines[5], "     ┌" + Repeat("─", 54));
  EXPECT_EQ(lines[8], "     │ Pop3-Server:");
  EXPECT_EQ(lines[9], "     │ Sent/Rcvd  :");
  EXPECT_EQ(lines[18], "     └" + Repeat("─", 54));
  pane_->Resize(80, 25);
  EXPECT_TRUE(WaitFor([&] { return pane_->Shows("Connect: [ ] │"); }, kPanelShownMs))
      << testing::PrintToString(pane_->Lines());
  pane_->SendKey("Escape");
  ExpectStoppedAfterTheFirstServer();
}

// A dumb terminal gets no panel at all; the interrupt key still stops.
TEST_F(StopRequestTest, ADumbTerminalGetsNoPanel) {
  ASSERT_NO_FATAL_FAILURE(StartAgainstTwoStallingServers("TERM=dumb"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(pane_->Shows("Pop3-Server:"));
  EXPECT_EQ(pane_->Format("#{alternate_on}"), "0");
  pane_->SendKey("C-c");
  ExpectStoppedAfterTheFirstServer();
}

TEST_F(StopRequestTest, CtrlCActsLikeEsc) {
  ASSERT_NO_FATAL_FAILURE(StartAgainstTwoStallingServers());
  pane_->SendKey("C-c");
  ExpectStoppedAfterTheFirstServer();
}

TEST_F(ConsoleEndToEnd, FatalSignalStillRestoresTheTerminal) {
  std::unique_ptr<FakeServer> server = StallingServer("220 stall.test ready");
  dir_.Write("OUT/M0001.OUT", "HELO here\r\nMAIL FROM:<a@here>\r\nQUIT\r\n");
  StartRun(SmtpConfig(std::to_string(server->port()), "127.0.0.1", 60));
  ASSERT_TRUE(WaitFor([&] { return Waiting(*server); }, kPanelShownMs));
  pane_->SendKey("C-\\");  // SIGQUIT from the terminal
  ExpectRunEndedAndTerminalRestored();
  EXPECT_TRUE(pane_->Shows("EXIT=131"));  // ended by the signal all the same
}

TEST_F(ConsoleEndToEnd, CtrlBEndsTheSmtpWaitAtOnce) {
  std::unique_ptr<FakeServer> server = StallingServer("220 stall.test ready");
  dir_.Write("OUT/M0001.OUT", "HELO here\r\nMAIL FROM:<a@here>\r\nQUIT\r\n");
  StartRun(SmtpConfig(std::to_string(server->port()), "127.0.0.1", 60));
  ASSERT_TRUE(WaitFor([&] { return Waiting(*server); }, kPanelShownMs));
  pane_->SendKey("C-b");
  ExpectRunEndedAndTerminalRestored();  // well before the 60 s of the time-out
  EXPECT_TRUE(LogHas("? hh:mm:ss  POSTIL #0: Smtp-Thread killed by User"));
}

TEST_F(ConsoleEndToEnd, CtrlAEndsThePop3WaitAtOnce) {
  std::unique_ptr<FakeServer> server = StallingServer("+OK stall.test ready");
  StartRun("$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(server->port()) +
           "\r\n$Pop3User=user\r\n$Pop3Pass=secret\r\n$Pop3TimeOut=60\r\n$Pop3Spool=IN\r\n"
           "$SmtpServer=disabled\r\n");
  ASSERT_TRUE(WaitFor([&] { return Waiting(*server); }, kPanelShownMs))
      << "the POP3 worker never connected";
  pane_->SendKey("C-a");
  ExpectRunEndedAndTerminalRestored();  // well before the 60 s of the time-out
  EXPECT_TRUE(LogHas("? hh:mm:ss  POSTIL #0: Pop3-Thread killed by User"));
}

TEST(ConsoleWithoutTerminal, RunWritesNoScreenBytes) {
  HostDir dir;
  dir.Write("POSTIL.CFG", "$Pop3Server=disabled\r\n$SmtpServer=disabled\r\n");
  dir.EnableDebug();
  RunResult result = RunPostilIn(dir, {"POSTIL.CFG"}, {}, 20000);
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.console.find('\x1b'), std::string::npos) << result.console;
  EXPECT_NE(result.console.find("POSTIL/Win32 v1.99g"), std::string::npos);
  std::vector<std::string> lines = LogLines(result.log);
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  // The status screen still ran its whole course.
  EXPECT_LT(at("  hh:mm:ss  POSTIL #0: Console Starting ..."),
            at("  hh:mm:ss  POSTIL #0: Console: Exit requested"));
  EXPECT_LT(at("  hh:mm:ss  POSTIL #0: Console: Exit requested"), static_cast<long>(lines.size()));
}

}  // namespace
}  // namespace postil::test
