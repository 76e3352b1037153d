#include "support/fake_smtp_server.h"

#include <algorithm>

namespace postil::test {
namespace {

// A connection that sends nothing for this long is dropped.
constexpr int kIdleLimitMs = 60000;
constexpr int kReadSliceMs = 200;

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool Positive(const std::vector<std::string>& reply) {
  return !reply.empty() && !reply.back().empty() &&
         (reply.back().front() == '2' || reply.back().front() == '3');
}

const std::vector<std::string> kOk = {"250 2.0.0 Ok"};

}  // namespace

std::string DecodeBase64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    std::size_t value = kAlphabet.find(c);
    if (value == std::string_view::npos) continue;
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

struct FakeSmtpServer::Session {
  int index = 0;
  std::string helo;
  // After STARTTLS nothing said before counts: HELO/EHLO must come again.
  bool must_greet = false;
  bool mail_open = false;
  Message message;

  void ResetTransaction() {
    mail_open = false;
    message = Message();
  }
};

FakeSmtpServer::FakeSmtpServer() : FakeSmtpServer(Options()) {}

FakeSmtpServer::FakeSmtpServer(Options options)
    : options_(std::move(options)),
      server_([this](FakeConnection& c) { Serve(c); },
              {.port = options_.port,
               .pace_ms = options_.pace_ms,
               .listen_address = options_.listen_address,
               .tls = options_.tls,
               .implicit_tls = options_.implicit_tls,
               .cut_handshake = options_.cut_handshake}) {}

FakeSmtpServer::~FakeSmtpServer() { server_.Stop(); }

void FakeSmtpServer::AddRule(Rule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FakeSmtpServer::OnMessage(std::function<void(const Message&)> callback) {
  std::lock_guard lock(mutex_);
  on_message_ = std::move(callback);
}

void FakeSmtpServer::OnCommand(std::function<void(const std::string&)> callback) {
  std::lock_guard lock(mutex_);
  on_command_ = std::move(callback);
}

std::vector<std::string> FakeSmtpServer::Dialogue() const {
  std::lock_guard lock(mutex_);
  return dialogue_;
}

std::vector<std::string> FakeSmtpServer::Commands() const {
  std::vector<std::string> commands;
  for (const std::string& line : Dialogue()) {
    if (line.starts_with("C: ")) commands.push_back(line.substr(3));
  }
  return commands;
}

std::vector<FakeSmtpServer::Message> FakeSmtpServer::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<FakeSmtpServer::Authentication> FakeSmtpServer::Authentications() const {
  std::lock_guard lock(mutex_);
  return authentications_;
}

void FakeSmtpServer::Note(std::string line) {
  if (!options_.record) return;
  std::lock_guard lock(mutex_);
  dialogue_.push_back(std::move(line));
}

bool FakeSmtpServer::Send(FakeConnection& connection, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    Note("S: " + line);
    if (options_.dribble_ms <= 0) {
      if (!connection.SendLine(line)) return false;
      continue;
    }
    const std::string bytes = line + "\r\n";
    for (char byte : bytes) {
      connection.Stall(options_.dribble_ms);
      if (server_.stopping() || !connection.SendRaw(std::string_view(&byte, 1))) return false;
    }
  }
  return true;
}

bool FakeSmtpServer::Reply(FakeConnection& connection, std::string_view on,
                           const std::vector<std::string>& normal, bool* positive) {
  Rule chosen;
  bool ruled = false;
  {
    std::lock_guard lock(mutex_);
    for (Rule& rule : rules_) {
      if (rule.times != 0 && on.starts_with(rule.on)) {
        if (rule.skip > 0) {
          --rule.skip;
          continue;
        }
        if (rule.times > 0) --rule.times;
        chosen = rule;
        ruled = true;
        break;
      }
    }
  }
  if (ruled && chosen.fault == Fault::kSilence) {
    connection.StallUntilStopped();
    return false;
  }
  if (ruled && chosen.fault == Fault::kClose) {
    connection.ShutdownNow();
    return false;
  }
  const std::vector<std::string>& reply = ruled ? chosen.reply : normal;
  if (positive != nullptr) *positive = Positive(reply);
  return Send(connection, reply);
}

bool FakeSmtpServer::ReadLine(FakeConnection& connection, std::string* line) {
  for (int waited = 0; waited < kIdleLimitMs && !server_.stopping(); waited += kReadSliceMs) {
    switch (connection.ReadLine(line, kReadSliceMs)) {
      case FakeConnection::ReadResult::kLine:
        return true;
      case FakeConnection::ReadResult::kClosed:
        return false;
      case FakeConnection::ReadResult::kTimeOut:
        break;
    }
  }
  return false;
}

std::vector<std::chrono::steady_clock::time_point> FakeSmtpServer::ConnectTimes() const {
  std::lock_guard lock(mutex_);
  return connect_times_;
}

void FakeSmtpServer::Serve(FakeConnection& connection) {
  {
    std::lock_guard lock(mutex_);
    connect_times_.push_back(std::chrono::steady_clock::now());
  }
  if (!options_.record) connection.SetRecording(false);
  Session session;
  session.index = connection.index();
  if (!Reply(connection, "<greeting>", options_.greeting)) return;
  std::string line;
  while (ReadLine(connection, &line)) {
    Note("C: " + line);
    std::function<void(const std::string&)> callback;
    {
      std::lock_guard lock(mutex_);
      callback = on_command_;
    }
    if (callback) callback(line);
    if (!HandleCommand(connection, session, line)) break;
  }
  connection.Close();
}

bool FakeSmtpServer::HandleCommand(FakeConnection& connection, Session& session,
                                   const std::string& line) {
  const std::string verb = UpperAscii(line.substr(0, line.find(' ')));
  bool positive = false;
  auto reply = [&](const std::vector<std::string>& normal) {
    return Reply(connection, line, normal, &positive);
  };
  if (verb == "HELO" || verb == "EHLO") {
    if (!reply(verb == "EHLO" ? EhloReply(connection) : std::vector<std::string>{"250 fake.test"}))
      return false;
    if (positive) {
      session.ResetTransaction();
      session.helo = line.size() > 5 ? line.substr(5) : "";
      session.must_greet = false;
    }
    return true;
  }
  if (verb == "STARTTLS") return StartTls(connection, session, line);
  if (session.must_greet && (verb == "AUTH" || verb == "MAIL")) {
    return reply({"503 5.5.1 Error: send HELO/EHLO first"});
  }
  if (verb == "AUTH") return Authenticate(connection, line);
  if (verb == "MAIL") {
    if (session.mail_open) return reply({"503 5.5.1 Error: nested MAIL command"});
    if (!reply({"250 2.1.0 Ok"})) return false;
    if (positive && line.size() >= 10) {
      session.mail_open = true;
      session.message.mail_from = line.substr(10);
    }
    return true;
  }
  if (verb == "RCPT") {
    if (!session.mail_open) return reply({"503 5.5.1 Error: need MAIL command"});
    if (!reply({"250 2.1.5 Ok"})) return false;
    if (positive) session.message.rcpt_to.push_back(line.size() > 8 ? line.substr(8) : "");
    return true;
  }
  if (verb == "DATA") {
    if (session.message.rcpt_to.empty()) return reply({"503 5.5.1 Error: need RCPT command"});
    if (!reply({"354 End data with <CR><LF>.<CR><LF>"})) return false;
    return !positive || ReceiveData(connection, session);
  }
  if (verb == "RSET") {
    if (!reply(kOk)) return false;
    if (positive) session.ResetTransaction();
    return true;
  }
  if (verb == "NOOP") return reply(kOk);
  if (verb == "QUIT") {
    if (!reply({"221 2.0.0 Bye"})) return false;
    return !positive;
  }
  return reply({"502 5.5.2 Error: command not recognized"});
}

std::vector<std::string> FakeSmtpServer::EhloReply(const FakeConnection& connection) const {
  std::vector<std::string> lines = options_.ehlo;
  if (!options_.offer_starttls || connection.secured() || lines.empty()) return lines;
  // Only the last line has a space after the code.
  if (lines.size() == 1) {
    if (lines[0].size() > 3) lines[0][3] = '-';
    lines.push_back("250 STARTTLS");
  } else {
    lines.insert(lines.end() - 1, "250-STARTTLS");
  }
  return lines;
}

bool FakeSmtpServer::StartTls(FakeConnection& connection, Session& session,
                              const std::string& line) {
  if (!options_.offer_starttls) {
    return Reply(connection, line, {"502 5.5.1 Error: command not implemented"});
  }
  if (connection.secured()) return Reply(connection, line, {"554 5.5.1 Error: TLS already active"});
  bool positive = false;
  if (!Reply(connection, line, {"220 Ready to start TLS"}, &positive)) return false;
  if (!positive) return true;
  if (!connection.StartTls()) return false;
  session.ResetTransaction();
  session.helo.clear();
  session.must_greet = true;
  return true;
}

bool FakeSmtpServer::Authenticate(FakeConnection& connection, const std::string& line) {
  const std::string upper = UpperAscii(line);
  Authentication auth;
  bool positive = false;
  std::string answer;
  if (upper.starts_with("AUTH LOGIN")) {
    auth.mechanism = "LOGIN";
    if (!Reply(connection, line, {"334 VXNlcm5hbWU6"}, &positive)) return false;
    if (!positive) return true;
    if (!ReadLine(connection, &answer)) return false;
    Note("C: " + answer);
    auth.user = DecodeBase64(answer);
    if (!Send(connection, {"334 UGFzc3dvcmQ6"})) return false;
    if (!ReadLine(connection, &answer)) return false;
    Note("C: " + answer);
    auth.password = DecodeBase64(answer);
  } else if (upper.starts_with("AUTH PLAIN")) {
    auth.mechanism = "PLAIN";
    if (line.size() > 11) {
      answer = line.substr(11);
    } else {
      if (!Reply(connection, line, {"334 "}, &positive)) return false;
      if (!positive) return true;
      if (!ReadLine(connection, &answer)) return false;
      Note("C: " + answer);
    }
    // authorization identity NUL user NUL password
    std::string decoded = DecodeBase64(answer);
    std::size_t first = decoded.find('\0');
    std::size_t second = first == std::string::npos ? first : decoded.find('\0', first + 1);
    if (second != std::string::npos) {
      auth.user = decoded.substr(first + 1, second - first - 1);
      auth.password = decoded.substr(second + 1);
    }
  } else {
    return Send(connection, {"504 5.5.4 Unrecognized authentication type"});
  }
  auth.accepted = auth.user == options_.user && auth.password == options_.password;
  {
    std::lock_guard lock(mutex_);
    authentications_.push_back(auth);
  }
  return Send(connection, {auth.accepted ? "235 2.7.0 Authentication successful"
                                         : "535 5.7.8 Error: authentication failed"});
}

bool FakeSmtpServer::ReceiveData(FakeConnection& connection, Session& session) {
  Message& message = session.message;
  message.connection = session.index;
  message.helo = session.helo;
  // The client sends nothing before the 354, so the data begins where the
  // record of the connection ends now.
  std::size_t start = 0;
  if (options_.record) start = server_.Records()[session.index].bytes.size();
  std::string line;
  int lines = 0;
  bool alive = true;
  while (true) {
    if (lines == options_.close_after_data_lines) {
      connection.ShutdownNow();
      alive = false;
      break;
    }
    if (!ReadLine(connection, &line)) {
      alive = false;
      break;
    }
    ++lines;
    message.data_size += line.size() + 2;
    if (!options_.record && options_.keep_data) message.data.append(line).append("\r\n");
    if (line == ".") {
      message.complete = true;
      break;
    }
  }
  if (options_.record) TakeWireData(session.index, start, &message);
  if (message.complete) {
    Note("C: .");
    bool positive = false;
    alive = Reply(connection, ".", {"250 2.0.0 Ok: queued"}, &positive);
    message.accepted = positive;
  }
  std::function<void(const Message&)> callback;
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    if (message.accepted) callback = on_message_;
  }
  if (callback) callback(message);
  session.ResetTransaction();
  return alive;
}

void FakeSmtpServer::TakeWireData(int connection, std::size_t start, Message* message) const {
  ConnectionRecord record = server_.Records()[connection];
  std::size_t end = record.bytes.size();
  if (message->complete && start >= 2) {
    std::size_t dot = record.bytes.find("\r\n.\r\n", start - 2);
    if (dot != std::string::npos) end = dot + 5;
  }
  if (options_.keep_data) message->data = record.bytes.substr(start, end - start);
  std::size_t offset = 0;
  for (std::size_t size : record.receive_sizes) {
    if (offset + size > start && offset < end) message->receive_sizes.push_back(size);
    offset += size;
  }
}

}  // namespace postil::test
