// Every way a POP3 session can fail before or around the messages: what
// the server received, the POP3 worker's log lines and the exit code.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "e2e/pop3_fixture.h"

namespace postil::test {
namespace {

using Lines = std::vector<std::string>;

const Lines kConnected = {"~ POP3 Starting to 127.0.0.1", "  +OK POP3 fake server ready",
                          "+ Sending USER", "+ Sending PASS", "= POP3 Connection etablished"};

Lines Then(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

struct Case {
  const char* name;
  FakePop3Server::Options options;
  std::function<void(FakePop3Server&)> arrange;
  Lines commands;
  Lines log;  // after "Creating directory: IN\"
  int exit_code;
};

FakePop3Server::Options Silent() {
  FakePop3Server::Options options;
  options.greeting.reset();
  return options;
}

FakePop3Server::Options Closing() {
  FakePop3Server::Options options;
  options.close_instead_of_greeting = true;
  return options;
}

FakePop3Server::Options Greeting(std::string text) {
  FakePop3Server::Options options;
  options.greeting = std::move(text);
  return options;
}

FakePop3Server::Options SilentAfterGreeting() {
  FakePop3Server::Options options;
  options.silent_after_greeting = true;
  return options;
}

FakePop3Server::Options User(std::string user, std::string password) {
  FakePop3Server::Options options;
  options.user = std::move(user);
  options.password = std::move(password);
  return options;
}

std::function<void(FakePop3Server&)> Reply(std::string command, std::string reply) {
  return [=](FakePop3Server& server) { server.SetReply(command, reply); };
}

const std::string kNotFound = "? POP3 Server 127.0.0.1 not found";
const std::string kDisconnected = "= POP3 to 127.0.0.1 disconnected";

TEST(Pop3Session, FailurePaths) {
  const std::string message = Message("<1@x>");
  const std::string stat =
      "% 1 Messages with " + std::to_string(FakePop3Server::StatedSize(message)) + " (Bytes)";
  const Case cases[] = {
      {"no greeting within the time-out",
       Silent(),
       {},
       {},
       {"~ POP3 Starting to 127.0.0.1", kNotFound,
        "? Connection to 127.0.0.1 port <port> failed: no greeting within 1 second"},
       1},
      {"closed instead of a greeting",
       Closing(),
       {},
       {},
       {"~ POP3 Starting to 127.0.0.1", kNotFound,
        "? Connection to 127.0.0.1 port <port> failed: connection closed before the greeting"},
       1},
      {"greeting other than +OK",
       Greeting("-ERR too busy"),
       {},
       {},
       {"~ POP3 Starting to 127.0.0.1", "? -ERR too busy"},
       1},
      {"user refused",
       User("someone", "secret"),
       {},
       {"USER user", "QUIT"},
       {"~ POP3 Starting to 127.0.0.1", "  +OK POP3 fake server ready", "+ Sending USER",
        "! -ERR no such user"},
       1},
      {"password refused",
       User("user", "other"),
       {},
       {"USER user", "PASS secret", "QUIT"},
       {"~ POP3 Starting to 127.0.0.1", "  +OK POP3 fake server ready", "+ Sending USER",
        "+ Sending PASS", "! -ERR invalid password"},
       1},
      {"silence after the greeting",
       SilentAfterGreeting(),
       {},
       {"USER user", "QUIT"},
       {"~ POP3 Starting to 127.0.0.1", "  +OK POP3 fake server ready", "+ Sending USER", "! "},
       1},
      {"STAT refused",
       {},
       Reply("STAT", "-ERR mailbox locked"),
       {"USER user", "PASS secret", "STAT", "QUIT"},
       Then(kConnected, {kDisconnected}),
       1},
      {"STAT without numbers",
       {},
       Reply("STAT", "+OK lots of mail"),
       {"USER user", "PASS secret", "STAT", "QUIT"},
       Then(kConnected, {"% 0 Messages with 0 (Bytes)", kDisconnected}),
       0},
      {"STAT of an absurd count: a failure, not an empty mailbox",
       {},
       Reply("STAT", "+OK 4294967296 99"),
       {"USER user", "PASS secret", "STAT", "QUIT"},
       Then(kConnected, {"? +OK 4294967296 99", kDisconnected}),
       1},
      {"TOP refused",
       {},
       Reply("TOP 1 0", "-ERR no such message"),
       {"USER user", "PASS secret", "STAT", "TOP 1 0", "QUIT"},
       Then(kConnected, {stat, "? TOP 1 0", "? -ERR no such message", kDisconnected}),
       1},
      {"QUIT refused",
       {},
       Reply("QUIT", "-ERR not now"),
       {"USER user", "PASS secret", "STAT", "TOP 1 0", "RETR 1", "DELE 1", "QUIT"},
       Then(kConnected, {stat,
                         "  Message 1 <1@x>\n\t\t\t\xC3 from: Anna Berg <anna@example.org>\n"
                         "\t\t\t\xC0 Subject: Hello",
                         kDisconnected}),
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pop3Run run({message}, c.options);
    if (c.arrange) c.arrange(run.server);
    run.Configure({"$Pop3TimeOut=1"});
    auto started = std::chrono::steady_clock::now();
    run.Run();
    // Each wait ends after the time-out of one second.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    EXPECT_EQ(run.result.exit_code, c.exit_code);
    EXPECT_EQ(run.server.Commands(), c.commands);
    std::vector<std::string> log = c.log;
    for (std::string& line : log) {
      if (std::size_t at = line.find("<port>"); at != std::string::npos)
        line.replace(at, 6, std::to_string(run.server.port()));
    }
    EXPECT_EQ(run.log, Then({"  Creating directory: IN\\"}, log));
  }
}

TEST(Pop3Session, UnreachableHost) {
  Pop3Run run({});
  run.dir.Write("POSTIL.CFG", "$Pop3Server=127.0.0.1\r\n$Pop3Port=1\r\n$SmtpServer=disabled\r\n");
  run.Run();
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.log,
            (Lines{"  Creating directory: SPOOL\\", "~ POP3 Starting to 127.0.0.1", kNotFound,
                   "? Connection to 127.0.0.1 port 1 failed: connection refused"}));
}

TEST(Pop3Session, EmptyUserAndPasswordAreSentAsTheyAre) {
  Pop3Run run({}, User("", ""));
  run.dir.Write("POSTIL.CFG",
                "$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(run.server.port()) +
                    "\r\n$Pop3Spool=IN\r\n$SmtpServer=disabled\r\n");
  run.Run();
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.server.Commands(), (Lines{"USER ", "PASS ", "STAT", "QUIT"}));
}

}  // namespace
}  // namespace postil::test
