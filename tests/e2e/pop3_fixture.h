// What the POP3 end-to-end tests share: a host directory with a
// configuration for one fake POP3 server, the run of the real binary, the
// POP3 worker's log lines and the inbound spool files as the host would
// find them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/log_lines.h"
#include "support/fake_pop3_server.h"
#include "support/host_dir.h"

namespace postil::test {

// The POP3 worker's log lines (thread 1) as mark + text, e.g.
// "~ POP3 Starting to 127.0.0.1"; the continuation lines of a detail block
// stay in the text, joined by LF.
inline std::vector<std::string> Pop3LogLines(std::string_view log) {
  std::vector<std::string> lines;
  bool in_pop3_entry = false;
  for (const std::string& line : LogLines(log)) {
    // mark (2) + time (8) + 2 blanks + "POSTIL " + "#1" + ": "
    if (line.size() >= 23 && line.compare(10, 9, "  POSTIL ") == 0) {
      in_pop3_entry = line.compare(19, 4, "#1: ") == 0;
      if (in_pop3_entry) lines.push_back(line.substr(0, 2) + line.substr(23));
    } else if (in_pop3_entry && !lines.empty()) {
      lines.back() += "\n" + line;
    }
  }
  return lines;
}

// Whether `text` has the form of `pattern`: "a" any letter, "d" any digit,
// every other character itself.
inline bool HasForm(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool ok = pattern[i] == 'a'   ? std::isalpha(c) != 0
              : pattern[i] == 'd' ? std::isdigit(c) != 0
                                  : text[i] == pattern[i];
    if (!ok) return false;
  }
  return true;
}

// The moment in the Received line (the line after "with POP3;") is checked
// for its form and replaced by "<time>".
inline std::string MaskReceivedTime(std::string spool) {
  constexpr std::string_view kMarker = " with POP3;\n\t";
  constexpr std::string_view kForm = "aaa, dd aaa dddd dd:dd:dd";
  std::size_t at = spool.find(kMarker);
  if (at == std::string::npos) return spool;
  at += kMarker.size();
  if (HasForm(std::string_view(spool).substr(at, kForm.size()), kForm))
    spool.replace(at, kForm.size(), "<time>");
  return spool;
}

// The expected bytes of a spool file from the fake server at 127.0.0.1:
// the envelope and Received lines, then `content` and "QUIT".
inline std::string SpoolBytes(std::string_view content,
                              std::string_view recipient = "postmaster@localhost",
                              bool request_line = false) {
  std::string bytes = "HELO 127.0.0.1\nRCPT TO:<" + std::string(recipient) +
                      ">\nDATA\nReceived: from 127.0.0.1 by localhost (QUIL v1.99g) with POP3;\n"
                      "\t<time> +0000 (MET)\n";
  if (request_line) bytes += "X-QV-Mode: Message-ID Request\n";
  return bytes + std::string(content) + "QUIT\n";
}

// The detail block of a log line for a message from Anna Berg.
inline std::string Block(std::string_view subject = "Hello") {
  return "\n\t\t\t\xC3 from: Anna Berg <anna@example.org>\n\t\t\t\xC0 Subject: " +
         std::string(subject);
}

// The detail block of a filter verdict's log line for a message from Anna
// Berg: the sender, the subject and the rule that decided.
inline std::string VerdictBlock(std::string_view subject, std::string_view reason) {
  return "\n\t\t\t\xC3 from: Anna Berg <anna@example.org>\n\t\t\t\xC3 Subject: " +
         std::string(subject) + "\n\t\t\t\xC0 Reason: " + std::string(reason);
}

// A simple message with LF line ends.
inline std::string Message(std::string_view id, std::string_view subject = "Hello",
                           std::string_view body = "Body line\n") {
  return "From: Anna Berg <anna@example.org>\nTo: me@example.org\nSubject: " +
         std::string(subject) + "\nMessage-ID: " + std::string(id) + "\n\n" + std::string(body);
}

class Pop3Run {
 public:
  explicit Pop3Run(std::vector<std::string> messages, FakePop3Server::Options options = {})
      : server(std::move(messages), std::move(options)) {}

  // Module-style configuration for the fake server, spool directory IN;
  // `extra` lines are added as they are (e.g. "$Pop3Keep=on"), before the
  // defaults, so they win.
  void Configure(const std::vector<std::string>& extra = {}) const {
    std::string text;
    for (const std::string& line : extra) text += line + "\r\n";
    text += "$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(server.port()) +
            "\r\n$Pop3User=user\r\n$Pop3Pass=secret\r\n$Pop3Spool=IN\r\n$Pop3TimeOut=5\r\n"
            "$SmtpServer=disabled\r\n";
    dir.Write("POSTIL.CFG", text);
  }

  RunResult Run(std::vector<std::string> args = {}, int time_limit_ms = 60000) {
    args.insert(args.begin(), "POSTIL.CFG");
    result = RunPostilIn(dir, args, {}, time_limit_ms);
    log = Pop3LogLines(result.log);
    return result;
  }

  // The spool files in IN, sorted by name.
  std::vector<std::string> SpoolNames() const { return dir.List("IN"); }
  // Those written by the POP3 worker (not the operator notices that a run
  // with errors ends with).
  std::vector<std::string> FetchedNames() const {
    std::vector<std::string> names;
    for (const std::string& name : SpoolNames()) {
      if (dir.Read("IN/" + name).rfind("HELO 127.0.0.1\n", 0) == 0) names.push_back(name);
    }
    return names;
  }
  std::string Spool(std::string_view name) const {
    return MaskReceivedTime(dir.Read("IN/" + std::string(name)));
  }

  bool Logged(std::string_view line) const { return Contains(log, line); }

  HostDir dir;
  FakePop3Server server;
  RunResult result;
  std::vector<std::string> log;
};

}  // namespace postil::test
