// libFuzzer target: a whole message scan against an in-memory POP3 server
// that hands its replies over in pieces of fuzzed sizes. Whatever the
// message (lines of any length, dots and fake replies anywhere), the session
// stays in step (TOP, RETR, DELE for this message, then the same for a plain
// next one), the spool file holds the message as it was sent, and no
// temporary file stays.
//
// Input: the message, with two escapes that make long lines cheap: 0x01 k
// repeats the byte before it k * 1024 times; 0x02 k sets the piece size of
// the server's sends to k + 1 (repeated: the sizes cycle).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/accounts.h"
#include "config/config.h"
#include "core/channel.h"
#include "core/run_state.h"
#include "core/worker_connection.h"
#include "filter/rule_table.h"
#include "platform/transport.h"
#include "pop3/header_capture.h"
#include "pop3/message_scan.h"
#include "pop3/pop3_context.h"
#include "pop3/pop3_pending.h"
#include "pop3/pop3_stores.h"
#include "pop3/spool_layout.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"
#include "support/memory_transport.h"
#include "support/pop3_parts.h"

namespace postil {
namespace {

struct Mailbox {
  std::vector<std::string> messages;  // LF-separated lines, no CR
  std::vector<std::size_t> piece_sizes;
};

// The message as a POP3 server sends it: CR LF, dot stuffing, a final ".".
std::string WireForm(std::string_view message, bool header_only) {
  std::string wire;
  while (!message.empty()) {
    const std::size_t lf = message.find('\n');
    std::string_view line = message.substr(0, lf);
    if (line.starts_with(".")) wire += '.';
    wire.append(line).append("\r\n");
    if (header_only && line.empty()) break;
    message.remove_prefix(lf == std::string_view::npos ? message.size() : lf + 1);
  }
  return wire + ".\r\n";
}

class ServerTransport final : public test::MemoryTransport {
 public:
  explicit ServerTransport(const Mailbox& box, std::vector<std::string>* commands)
      : box_(box), commands_(commands) {}
  // Nothing queued means the client waits for a reply that never comes: a
  // time-out at once, so a session out of step shows as a failure.
  WaitResult WaitReadable(int) override {
    return sent_ == pending_.size() ? WaitResult::kTimeOut : WaitResult::kReady;
  }
  std::int64_t Receive(char* buffer, std::size_t size) override {
    std::size_t piece = box_.piece_sizes[next_piece_++ % box_.piece_sizes.size()];
    std::size_t n = std::min({size, piece, pending_.size() - sent_});
    pending_.copy(buffer, n, sent_);
    sent_ += n;
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Send(const char* data, std::size_t size) override {
    received_.append(data, size);
    for (std::size_t end = received_.find("\r\n"); end != std::string::npos;
         end = received_.find("\r\n")) {
      Answer(received_.substr(0, end));
      received_.erase(0, end + 2);
    }
    return static_cast<std::int64_t>(size);
  }

 private:
  void Answer(const std::string& command) {
    commands_->push_back(command);
    const std::size_t blank = command.find(' ');
    const std::size_t n = blank + 1 < command.size()
                              ? static_cast<std::size_t>(command[blank + 1] - '1')
                              : box_.messages.size();
    if (n >= box_.messages.size()) {
      pending_ += "-ERR no such message\r\n";
    } else if (command.starts_with("TOP ")) {
      pending_ += "+OK top follows\r\n" + WireForm(box_.messages[n], true);
    } else if (command.starts_with("RETR ")) {
      pending_ += "+OK message follows\r\n" + WireForm(box_.messages[n], false);
    } else {
      pending_ += "+OK\r\n";
    }
  }

  const Mailbox& box_;
  std::vector<std::string>* commands_;
  std::string received_;
  std::string pending_;  // every reply so far; bytes before sent_ were received
  std::size_t sent_ = 0;
  std::size_t next_piece_ = 0;
};

// The fuzz input decoded into a message with a header and a body.
Mailbox Decode(std::string_view input) {
  Mailbox box;
  std::string message;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    const bool escape = (c == '\x01' || c == '\x02') && i + 1 < input.size();
    if (!escape) {
      if (c != '\r') message += c;  // the channel drops every CR anyway
      continue;
    }
    const auto k = static_cast<unsigned char>(input[++i]);
    if (c == '\x02') box.piece_sizes.push_back(k + 1u);
    if (c == '\x01' && !message.empty()) message.append(k * 1024u, message.back());
  }
  if (box.piece_sizes.empty()) box.piece_sizes.push_back(65536);
  if (!message.empty() && message.back() != '\n') message += '\n';
  if (message.find("\n\n") == std::string::npos && !message.starts_with("\n")) message += '\n';
  box.messages = {message, "From: next@example.org\nMessage-ID: <next@x>\n\nnext body\n"};
  return box;
}

// What the spool file holds of a message: its lines as sent (dots
// doubled), header lines that only this program may write taken out.
std::string Stored(std::string_view message) {
  std::string stored;
  bool in_header = true;
  const std::string whole = WireForm(message, false);
  for (std::string_view wire = whole; !wire.empty();) {
    const std::size_t end = wire.find("\r\n");
    std::string_view line = wire.substr(0, end);
    wire.remove_prefix(end + 2);
    if (in_header && IsSecurityViolation(line)) continue;
    in_header = in_header && !line.empty();
    stored.append(line).append("\n");
  }
  return stored;
}

}  // namespace
}  // namespace postil

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::HostDir dir;
  static const bool in_dir = (std::filesystem::current_path(dir.path()), true);
  static test::FixedClock clock(test::SampleTime());
  (void)in_dir;
  std::filesystem::remove_all(dir.PathOf("IN"));
  dir.MakeDir("IN");

  const Mailbox box = Decode(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> commands;
  RunState state(clock);
  Config config;
  config.Pop3Server = "pop.example";
  config.Pop3Spool = "IN";
  // The server is in memory and never slow: a time-out long enough that
  // the exchange's bound cannot cut even a message fed a byte at a time
  // under the sanitizers.
  config.Pop3TimeOut = "3600";
  config.Pop3MaxLen = "0";
  const RuleTable rules;
  const Pop3Account account = SelectPop3Account(config, 1);
  test::Pop3Parts parts(state, config, rules, account,
                        std::make_unique<ServerTransport>(box, &commands));
  parts.connection.channel().OpenChannel(account.server, account.port, account.time_out);
  Pop3Context& context = parts.context;

  for (int number = 1; number <= 2; ++number) {
    if (ScanMessage(context, number) != ScanResult::kGoOn) std::abort();
  }
  if (!CommitPending(context)) std::abort();
  const std::vector<std::string> in_step = {"TOP 1 0", "RETR 1", "DELE 1",
                                            "TOP 2 0", "RETR 2", "DELE 2"};
  if (commands != in_step) std::abort();
  const std::vector<std::string> names = dir.List("IN");
  if (names != std::vector<std::string>{"M0000.MSG", "M0001.MSG"}) std::abort();
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string expected =
        SpoolPreamble(account.server, account.envelope, clock.Now(), false) +
        Stored(box.messages[i]) + "QUIT\n";
    if (dir.Read("IN/" + names[i]) != expected) std::abort();
  }
  return 0;
}
