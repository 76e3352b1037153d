// What the SMTP end-to-end tests share: a host directory with a
// configuration for one fake SMTP server, outgoing spool files, the run of
// the real binary, and the SMTP worker's log lines.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>
#include <vector>

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

inline bool Contains(const std::vector<std::string>& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Date and Message-ID of a locally written mail depend on the moment: they
// are checked for their form and replaced by fixed marks.
inline std::string MaskLocalMailStamps(const std::string& mail) {
  static const std::regex kDate(R"(Date: \d\d [A-Z][a-z][a-z] \d{4} \d\d:\d\d:\d\d( [+-]\d{4})?)");
  static const std::regex kId(R"(Message-ID: \d+(\.\d+)?\d\d-\d\d-\d{4}@postil\.local)");
  return std::regex_replace(std::regex_replace(mail, kDate, "<date>"), kId, "<id>");
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
                       "\r\n$SmtpSpool=OUT\r\n$SmtpTimeOut=5\r\n";
    for (const std::string& line : extra) text += line + "\r\n";
    dir.Write(config_name, text);
  }
  // Box-file style (bare keys), which also reads SmtpUser and SmtpPass.
  void ConfigureBox(const std::vector<std::string>& extra = {}) {
    config_name = "QUIL.BFG";
    std::string text = "Pop3Server=disabled\r\nPop3Spool=IN\r\nSmtpServer=127.0.0.1\r\n"
                       "SmtpPort=" + std::to_string(server.port()) +
                       "\r\nSmtpSpool=OUT\r\nSmtpTimeOut=5\r\n";
    for (const std::string& line : extra) text += line + "\r\n";
    dir.Write(config_name, text);
  }
  void Outgoing(std::string_view name, std::string_view bytes) const {
    dir.Write("OUT/" + std::string(name), bytes);
  }
  bool Kept(std::string_view name) const { return dir.Exists("OUT/" + std::string(name)); }

  RunResult Run(std::vector<std::string> args = {}) {
    args.insert(args.begin(), config_name);
    result = RunPostilIn(dir, args, {}, 60000);
    EXPECT_FALSE(result.timed_out) << result.console;
    smtp_log = SmtpLogLines(result.log);
    return result;
  }

  HostDir dir;
  FakeSmtpServer server;
  std::string config_name = "POSTIL.CFG";
  // The POP3 side of a module-style configuration.
  std::string pop3_server = "disabled";
  int pop3_port = 110;
  std::string pop3_password = "secret";
  RunResult result;
  std::vector<std::string> smtp_log;
};

}  // namespace postil::test
