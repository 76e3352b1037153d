// What the SMTP end-to-end tests share: a host directory with a
// configuration for one fake SMTP server, outgoing spool files, the run of
// the real binary, the SMTP worker's log lines and the bounce it writes.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/log_lines.h"
#include "support/fake_smtp_server.h"
#include "support/host_dir.h"

namespace postil::test {

// The SMTP worker's log lines (thread 2) as mark + text, e.g.
// "~ SMTP Starting to 127.0.0.1".
inline std::vector<std::string> SmtpLogLines(std::string_view log) {
  std::vector<std::string> lines;
  for (const std::string& line : LogLines(log)) {
    // mark (2) + time (8) + 2 blanks + "POSTIL " + "#2" + ": "
    if (line.size() >= 23 && line.compare(19, 4, "#2: ") == 0)
      lines.push_back(line.substr(0, 2) + line.substr(23));
  }
  return lines;
}

// Date and Message-ID of a locally written mail depend on the moment: they
// are checked for their form and replaced by fixed marks.
inline std::string MaskLocalMailStamps(const std::string& mail) {
  static const std::regex kDate(R"(Date: \d\d [A-Z][a-z][a-z] \d{4} \d\d:\d\d:\d\d( [+-]\d{4})?)");
  static const std::regex kId(R"(Message-ID: \d+(\.\d+)?\d\d-\d\d-\d{4}@postil\.local)");
  return std::regex_replace(std::regex_replace(mail, kDate, "<date>"), kId, "<id>");
}

// A batched spool file of one message to two recipients, with a data line
// that must be dot-stuffed and a signature separator without its blank.
inline constexpr char kBatchedFile[] =
    "HELO host.example\n"
    "MAIL FROM:<anna@example.org>\n"
    "RCPT TO:<bob@example.net>\n"
    "RCPT TO:<carl@example.net>\n"
    "DATA\n"
    "From: Anna <anna@example.org>\n"
    "X-Mailer: Quorvex 3.30\n"
    "Subject: b\n"
    "\n"
    "..dotted\n"
    "--\n"
    ".\n"
    "QUIT\n";

// A refusal of the second recipient of kBatchedFile, as a server words it.
inline constexpr char kRefusal[] = "550 5.1.1 <carl@example.net>: Recipient address rejected";

// The bounce to `recipient` for `refusal`, after MaskLocalMailStamps.
inline std::string Bounce(std::string_view recipient, std::string_view refusal) {
  const std::string rule(70, '-');
  return "HELO 127.0.0.1\r\nRCPT TO: " + std::string(recipient) +
         "\r\nDATA\r\n<date>\r\nTo: " + std::string(recipient) +
         "\r\nFrom: mailer-daemon@localhost (QUIL v1.99g)\r\n"
         "Subject: Error Sending Message \r\n<id>\r\n\r\n\r\n\nSmtp-Server: 127.0.0.1\n\n\n" +
         rule + "\n" + std::string(refusal) + "\n" + rule + "\n\n\n\r\n.\r\nQUIT\r\n";
}

class SmtpRun {
 public:
  explicit SmtpRun(FakeSmtpServer::Options options = {}) : server(std::move(options)) {}

  // Module-style configuration for the fake server; `extra` lines are
  // added as they are (e.g. "$SmtpBurst=off").
  void Configure(const std::vector<std::string>& extra = {}) {
    std::string text = "$Pop3Server=" + pop3_server + "\r\n$Pop3Port=" + std::to_string(pop3_port) +
                       "\r\n$Pop3User=user\r\n$Pop3Pass=" + pop3_password +
                       "\r\n$Pop3Spool=IN\r\n$SmtpServer=127.0.0.1\r\n"
                       "$SmtpPort=" + std::to_string(server.port()) +
                       "\r\n$SmtpSpool=OUT\r\n$SmtpTimeOut=" + std::to_string(time_out) +
                       "\r\n";
    for (const std::string& line : extra) text += line + "\r\n";
    dir.Write(config_name, text);
  }
  // Box-file style (bare keys), which also reads SmtpUser and SmtpPass.
  void ConfigureBox(const std::vector<std::string>& extra = {}) {
    config_name = "QUIL.BFG";
    std::string text = "Pop3Server=disabled\r\nPop3Spool=IN\r\nSmtpServer=127.0.0.1\r\n"
                       "SmtpPort=" + std::to_string(server.port()) +
                       "\r\nSmtpSpool=OUT\r\nSmtpTimeOut=" + std::to_string(time_out) + "\r\n";
    for (const std::string& line : extra) text += line + "\r\n";
    dir.Write(config_name, text);
  }
  void Outgoing(std::string_view name, std::string_view bytes) const {
    dir.Write("OUT/" + std::string(name), bytes);
  }
  bool Kept(std::string_view name) const { return dir.Exists("OUT/" + std::string(name)); }

  RunResult Run(std::vector<std::string> args = {}) {
    args.insert(args.begin(), config_name);
    result = RunPostilIn(dir, args, {}, time_limit_ms);
    EXPECT_FALSE(result.timed_out) << result.console;
    smtp_log = SmtpLogLines(result.log);
    return result;
  }

  HostDir dir;
  FakeSmtpServer server;
  std::string config_name = "POSTIL.CFG";
  int time_out = 5;           // SmtpTimeOut, seconds
  int time_limit_ms = 60000;  // for the run of the binary
  // The POP3 side of a module-style configuration.
  std::string pop3_server = "disabled";
  int pop3_port = 110;
  std::string pop3_password = "secret";
  RunResult result;
  std::vector<std::string> smtp_log;
};

}  // namespace postil::test
