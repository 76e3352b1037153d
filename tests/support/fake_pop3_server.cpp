#include "support/fake_pop3_server.h"

#include <cctype>
#include <charconv>

namespace postil::test {
namespace {

// Message data is sent in pieces of this size, as a real server would.
constexpr std::size_t kSendPiece = 256 * 1024;

std::string UpperWord(std::string_view command) {
  std::string verb(command.substr(0, command.find(' ')));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

std::string_view Argument(std::string_view command, int index) {
  for (int i = 0; i < index; ++i) {
    std::size_t blank = command.find(' ');
    if (blank == std::string_view::npos) return {};
    command.remove_prefix(blank + 1);
  }
  return command.substr(0, command.find(' '));
}

std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Calls `line` for each line of `message` (without its line end), and says
// whether the walk ran to the end.
template <typename LineFn>
bool ForEachLine(std::string_view message, LineFn line) {
  while (!message.empty()) {
    std::size_t lf = message.find('\n');
    std::string_view text = message.substr(0, lf);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (!line(text)) return false;
    if (lf == std::string_view::npos) break;
    message.remove_prefix(lf + 1);
  }
  return true;
}

void AppendWireLine(std::string* out, std::string_view line) {
  if (!line.empty() && line.front() == '.') *out += '.';
  out->append(line);
  out->append("\r\n");
}

}  // namespace

struct FakePop3Server::Session {
  bool user_ok = false;
  bool authenticated = false;
  std::vector<bool> deleted;
};

FakePop3Server::FakePop3Server(std::vector<std::string> messages)
    : FakePop3Server(std::move(messages), Options()) {}

FakePop3Server::FakePop3Server(std::vector<std::string> messages, Options options)
    : options_(std::move(options)),
      messages_(std::move(messages)),
      server_([this](FakeConnection& connection) { Serve(connection); },
              {.port = options_.port,
               .pace_ms = options_.pace_ms,
               .listen_address = options_.listen_address,
               .tls = options_.tls,
               .implicit_tls = options_.implicit_tls,
               .cut_handshake = options_.cut_handshake}) {}

FakePop3Server::~FakePop3Server() { server_.Stop(); }

void FakePop3Server::SetReply(std::string command, std::string reply) {
  std::lock_guard lock(mutex_);
  overrides_[std::move(command)] = std::move(reply);
}

void FakePop3Server::SetRetrFault(int message, std::size_t bytes, RetrFault action) {
  std::lock_guard lock(mutex_);
  retr_faults_[message] = {bytes, action};
}

void FakePop3Server::StallOnCommand(std::string prefix) {
  std::lock_guard lock(mutex_);
  stall_prefixes_.push_back(std::move(prefix));
}

void FakePop3Server::SetCommandHook(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void FakePop3Server::SetSentHook(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(mutex_);
  sent_hook_ = std::move(hook);
}

void FakePop3Server::SetRecording(bool on) {
  std::lock_guard lock(mutex_);
  recording_ = on;
}

std::vector<std::vector<std::string>> FakePop3Server::CommandsByConnection() const {
  std::vector<std::vector<std::string>> commands;
  for (const ConnectionRecord& record : server_.Records()) commands.push_back(record.lines);
  return commands;
}

std::vector<std::string> FakePop3Server::Mailbox() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::string FakePop3Server::WireForm(std::string_view message) {
  std::string wire;
  ForEachLine(message, [&](std::string_view line) {
    AppendWireLine(&wire, line);
    return true;
  });
  return wire + ".\r\n";
}

std::uint64_t FakePop3Server::StatedSize(std::string_view message) {
  std::uint64_t size = 0;
  ForEachLine(message, [&](std::string_view line) {
    size += line.size() + 2;
    return true;
  });
  return size;
}

bool FakePop3Server::StallsOn(const std::string& command) const {
  std::lock_guard lock(mutex_);
  for (const std::string& prefix : stall_prefixes_) {
    if (command.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::optional<std::string> FakePop3Server::Override(const std::string& command) const {
  std::lock_guard lock(mutex_);
  auto found = overrides_.find(command);
  if (found == overrides_.end()) return std::nullopt;
  return found->second;
}

void FakePop3Server::Serve(FakeConnection& connection) {
  {
    std::lock_guard lock(mutex_);
    connection.SetRecording(recording_);
  }
  if (options_.close_instead_of_greeting) return connection.ShutdownNow();
  if (!options_.greeting) return connection.StallUntilStopped();
  if (!connection.SendLine(*options_.greeting)) return;
  Session session;
  session.deleted.assign(messages_.size(), false);
  std::string command;
  while (connection.ReadLine(&command, 60000) == FakeConnection::ReadResult::kLine) {
    if (options_.silent_after_greeting) continue;
    const bool go_on = Answer(connection, session, command);
    std::function<void(const std::string&)> sent;
    {
      std::lock_guard lock(mutex_);
      sent = sent_hook_;
    }
    if (sent) sent(command);
    if (!go_on) break;
  }
}

// Answers one command; false when the connection is to end.
bool FakePop3Server::Answer(FakeConnection& connection, Session& session,
                            const std::string& command) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (hook) hook(command);
  if (StallsOn(command)) {
    connection.StallUntilStopped();
    return false;
  }
  const std::string verb = UpperWord(command);
  std::optional<std::string> reply = Override(command);
  if (verb == "QUIT") {
    // Deletions are applied before the reply, so a client that has seen it
    // finds the mailbox changed.
    if (session.authenticated) {
      std::lock_guard lock(mutex_);
      std::vector<std::string> kept;
      for (std::size_t i = 0; i < messages_.size(); ++i) {
        if (!session.deleted[i]) kept.push_back(std::move(messages_[i]));
      }
      messages_.swap(kept);
    }
    connection.SendLine(reply.value_or("+OK bye"));
    return false;
  }
  if (verb == "CAPA") return SendCapabilities(connection, reply);
  if (verb == "STLS") return StartTls(connection, session, reply);
  if (!session.authenticated) {
    if (verb == "USER") {
      session.user_ok = command == "USER " + options_.user;
      return connection.SendLine(
          reply.value_or(session.user_ok ? "+OK user accepted" : "-ERR no such user"));
    }
    if (verb == "PASS") {
      session.authenticated = session.user_ok && command == "PASS " + options_.password;
      return connection.SendLine(
          reply.value_or(session.authenticated ? "+OK logged in" : "-ERR invalid password"));
    }
    return connection.SendLine(reply.value_or("-ERR not logged in"));
  }

  std::optional<long long> number = Number(Argument(command, 1));
  const bool valid = number && *number >= 1 &&
                     *number <= static_cast<long long>(messages_.size()) &&
                     !session.deleted[static_cast<std::size_t>(*number - 1)];
  const int n = valid ? static_cast<int>(*number) : 0;
  if (verb == "STAT") {
    std::uint64_t count = 0, size = 0;
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      if (session.deleted[i]) continue;
      ++count;
      size += StatedSize(messages_[i]);
    }
    return connection.SendLine(
        reply.value_or("+OK " + std::to_string(count) + " " + std::to_string(size)));
  }
  if (verb == "NOOP") return connection.SendLine(reply.value_or("+OK"));
  if (verb == "RSET") {
    session.deleted.assign(messages_.size(), false);
    return connection.SendLine(reply.value_or("+OK"));
  }
  if (verb != "TOP" && verb != "RETR" && verb != "DELE")
    return connection.SendLine(reply.value_or("-ERR unknown command"));
  if (!reply && !valid) return connection.SendLine("-ERR no such message");
  if (verb == "DELE") {
    if (valid) session.deleted[static_cast<std::size_t>(n - 1)] = true;
    return connection.SendLine(reply.value_or("+OK message deleted"));
  }
  const bool top = verb == "TOP";
  std::string size =
      valid ? std::to_string(StatedSize(messages_[static_cast<std::size_t>(n - 1)])) : "0";
  std::string normal =
      top && !options_.top_states_size ? "+OK top of message follows" : "+OK " + size + " octets";
  std::string status = reply.value_or(normal);
  if (!connection.SendLine(status)) return false;
  if (status.compare(0, 3, "+OK") != 0 || !valid) return true;
  return SendMessage(connection, n, top);
}

bool FakePop3Server::SendCapabilities(FakeConnection& connection,
                                      const std::optional<std::string>& reply) {
  const std::string status = reply.value_or("+OK Capability list follows");
  if (!connection.SendLine(status)) return false;
  if (!status.starts_with("+OK")) return true;
  const bool stls = options_.offer_stls && !connection.secured();
  return connection.SendRaw(stls ? "USER\r\nSTLS\r\n.\r\n" : "USER\r\n.\r\n");
}

// STLS is allowed once, before login (a login begun in plain text does not
// carry over into the secured session).
bool FakePop3Server::StartTls(FakeConnection& connection, Session& session,
                              const std::optional<std::string>& reply) {
  const bool go_ahead = options_.offer_stls && !connection.secured() && !session.authenticated;
  const std::string status =
      reply.value_or(go_ahead ? "+OK Begin TLS negotiation" : "-ERR command not available");
  if (!connection.SendLine(status)) return false;
  if (!go_ahead || !status.starts_with("+OK")) return true;
  session.user_ok = false;
  return connection.StartTls();
}

// The message's lines after the status line: all of them for RETR (with its
// fault, if one is set), the header and its empty line for TOP n 0.
bool FakePop3Server::SendMessage(FakeConnection& connection, int number, bool header_only) {
  std::optional<Fault> fault;
  if (!header_only) {
    std::lock_guard lock(mutex_);
    auto found = retr_faults_.find(number);
    if (found != retr_faults_.end()) fault = found->second;
  }
  const std::string& message = messages_[static_cast<std::size_t>(number - 1)];
  std::string piece;
  std::size_t sent = 0;
  bool ok = true;
  auto flush = [&] {
    std::string_view data = piece;
    const bool cut = fault && sent + data.size() >= fault->bytes;
    if (cut) data = data.substr(0, fault->bytes - sent);
    ok = connection.SendRaw(data) && !cut;
    if (cut && fault->action == RetrFault::kClose) connection.ShutdownNow();
    if (cut && fault->action == RetrFault::kStall) connection.StallUntilStopped();
    sent += data.size();
    if (cut && fault->action == RetrFault::kTrickle) {
      for (char byte : std::string_view(piece).substr(data.size())) {
        connection.Stall(kTrickleMs);
        if (!connection.SendRaw(std::string_view(&byte, 1))) break;
      }
    }
    if (cut && (fault->action == RetrFault::kEndless || fault->action == RetrFault::kEndlessSlow)) {
      const std::string line = std::string(kEndlessLine - 2, 'e') + "\r\n";
      for (std::size_t endless = 0; endless < kEndlessBytes && !server_.stopping();
           endless += line.size()) {
        if (fault->action == RetrFault::kEndlessSlow) connection.Stall(kTrickleMs);
        if (!connection.SendRaw(line)) break;
      }
    }
    piece.clear();
    return ok;
  };
  bool in_header = true;
  ForEachLine(message, [&](std::string_view line) {
    if (header_only && !in_header) return false;
    AppendWireLine(&piece, line);
    if (line.empty()) in_header = false;
    return piece.size() < kSendPiece || flush();
  });
  if (!ok) return false;
  piece += ".\r\n";
  return flush();
}

}  // namespace postil::test
