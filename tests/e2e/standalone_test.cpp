// POSTIL run by a person rather than the host: --help, --version, --check,
// the configuration problems a normal run logs, and a server that speaks the
// other protocol.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "e2e/log_lines.h"
#include "platform/build_system.h"
#include "support/fake_pop3_server.h"
#include "support/fake_smtp_server.h"
#include "support/host_dir.h"

namespace postil {
namespace {

using test::HostDir;
using test::LoggedInOrder;
using test::LogLines;
using test::RunPostilIn;

// The last line names the build it comes from, right-aligned in 79 columns.
const std::string kBuildLine(platform::BuildBannerText());
const std::string kBanner =
    "POSTIL/Win32 v1.99g - Internet mail module\n"
    "Pop3/Smtp-Client for Quorvex v3.3x\n" +
    std::string(79 - kBuildLine.size(), ' ') + kBuildLine + "\n";

const std::string kUsageAndOptions =
    " \n"
    "Usage: POSTIL <Configuration file>\n"
    " \n"
    "       /NoPop3        - disable Pop3 Thread\n"
    "       /OpenPop3Only  - Pop3 Statistic only\n"
    "       /NoSmtp        - disable Smtp Thread\n"
    " \n"
    "       --check <file> - show what a run would do with the configuration\n"
    "                        file; contacts no server, writes no file;\n"
    "                        exit 0 when it is usable, 1 when not\n"
    "       --version      - show the version and the build\n"
    "       --help, -h     - show this text\n";

// A run of the binary whose lock file goes to a runtime directory of the
// test's own, removed with it.
struct Standalone {
  test::RunResult Run(const std::vector<std::string>& args) {
    return RunPostilIn(dir, args, {{"XDG_RUNTIME_DIR", runtime.path()}});
  }
  HostDir dir;
  HostDir runtime;
};

// Neither option is taken for a configuration file name, and neither
// touches a file: no log, no lock file.
TEST(CommandLine, HelpAndVersionTouchNoFile) {
  const std::vector<std::string> help = {"--help", "-h"};
  for (const std::string& option : help) {
    SCOPED_TRACE(option);
    Standalone run;
    test::RunResult result = run.Run({option});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.console, kBanner + kUsageAndOptions);
    EXPECT_TRUE(run.dir.List().empty());
    EXPECT_TRUE(run.runtime.List().empty());
  }
  Standalone run;
  test::RunResult result = run.Run({"--version"});
  EXPECT_EQ(result.exit_code, 0);
  // The build's system, then its TLS library when it has one.
  const std::string tls = TlsLibraryVersion().empty() ? "" : ", (OpenSSL|Schannel) [^\n]+";
  EXPECT_TRUE(std::regex_match(result.console,
                               std::regex("POSTIL v1\\.99g\nBuild: " +
                                          std::string(platform::BuildSystemName()) + tls + "\n")))
      << result.console;
  EXPECT_TRUE(run.dir.List().empty());
  EXPECT_TRUE(run.runtime.List().empty());
}

struct CheckCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> args;
  int exit_code;
  std::string output;
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class Check : public testing::TestWithParam<CheckCase> {};

// The whole output, and the host directory exactly as it was: no log, no
// spool directory, no Dupebase.
TEST_P(Check, SaysWhatARunWouldDo) {
  const CheckCase& c = GetParam();
  Standalone run;
  for (const auto& [name, text] : c.files) run.dir.Write(name, text);
  const std::vector<std::string> before = run.dir.List();
  test::RunResult result = run.Run(c.args);
  EXPECT_EQ(result.exit_code, c.exit_code);
  EXPECT_EQ(result.console, c.output);
  EXPECT_EQ(run.dir.List(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Check,
    testing::Values(
        CheckCase{"UsableBoxFile",
                  {{"QV.BFG",
                    "Name=Point\r\nPop3Server=localhost\r\nPop3User=anna\r\nPop3Pass=pa:ss\r\n"
                    "Pop3Spool=SPOOL\\IN\r\nPop3Keep=on\r\nSmtpServer=127.0.0.1\r\n"
                    "SmtpPort=587\r\nSmtpTls=starttls\r\nSmtpUser=anna\r\nSmtpPass=secret\r\n"
                    "PPP_Killfile=FILTER.KIL\r\n"},
                   {"FILTER.KIL", "--- ALLE\r\n\"*WINNER*\" \xEAS \xAF DELE\r\n"},
                   {"QV.EXE", "MZ host QV2"},
                   {"QUORVX.CFG", "LogDir=LOG\\\r\n"}},
                  {"--check", "qv.bfg"},
                  0,
                  "Configuration file qv.bfg\n"
                  "Key style: box file, keys without \"$\" (the name's part after its first "
                  "\".\" is BFG)\n"
                  "POP3 account 1\n"
                  "  Pop3Server           localhost\n"
                  "  Pop3Port             110\n"
                  "  Pop3Tls              off\n"
                  "  Pop3User             anna\n"
                  "  Pop3Pass             ***\n"
                  "  Pop3Spool            SPOOL\\IN\\\n"
                  "  Pop3TimeOut          15 s\n"
                  "  Pop3Envelope         postmaster@localhost\n"
                  "  Pop3UseEnvelope      no\n"
                  "  Pop3Keep             yes\n"
                  "  Pop3MaxLen           5000000 bytes\n"
                  "SMTP server 1\n"
                  "  SmtpServer           127.0.0.1\n"
                  "  SmtpPort             587\n"
                  "  SmtpTls              starttls\n"
                  "  SmtpTlsFingerprint   (none: chain and name are checked)\n"
                  "  SmtpUser             anna\n"
                  "  SmtpPass             ***\n"
                  "  SmtpSpool            SPOOL\\\n"
                  "  SmtpTimeOut          15 s\n"
                  "  SmtpBurst            yes\n"
                  "  SmtpEnvelope         (none)\n"
                  "  SmtpRedirect         (none)\n"
                  "For the whole run\n"
                  "  SmtpAfterPop         no\n"
                  "  TlsCaFile            (none: the system's store)\n"
                  "  PPP_Killfile         FILTER.KIL: 1 section, 1 rule\n"
                  "  QV.EXE               release marker found: message requests on, client tag "
                  "QUIL+\n"
                  "  Log                  QUIL.LOG and QV-PPP.LOG in LOG\\ (QUORVX.CFG)\n"
                  "Other keys of the box file (not POSTIL's): Name\n"
                  "Served: 1 POP3 account, 1 SMTP server; 0 problems\n"},
        CheckCase{"SlipsInADollarFile",
                  {{"POSTIL.CFG",
                    "$Pop3Sever=localhost\r\n$SmtpServer=127.0.0.1\r\n$SmtpUser=anna\r\n"
                    "$SmtpPort=99999999\r\n"}},
                  {"--check", "POSTIL.CFG", "/NoSmtp"},
                  1,
                  "Configuration file POSTIL.CFG\n"
                  "Key style: keys with \"$\" (the name's part after its first \".\" is not "
                  "BFG)\n"
                  "POP3: off (Pop3Server is not set)\n"
                  "SMTP server 1\n"
                  "  SmtpServer           127.0.0.1\n"
                  "  SmtpPort             25\n"
                  "  SmtpTls              off\n"
                  "  SmtpUser             (none: no AUTH)\n"
                  "  SmtpPass             (none)\n"
                  "  SmtpSpool            SPOOL\\\n"
                  "  SmtpTimeOut          15 s\n"
                  "  SmtpBurst            yes\n"
                  "  SmtpEnvelope         (none)\n"
                  "  SmtpRedirect         (none)\n"
                  "For the whole run\n"
                  "  SmtpAfterPop         no\n"
                  "  TlsCaFile            (none: the system's store)\n"
                  "  PPP_Killfile         (read from .BFG files only)\n"
                  "  QV.EXE               no release marker: a run with errors ends with the "
                  "\"Configuration info\" notice\n"
                  "  Log                  no QUORVX.CFG: QUIL.LOG in the current directory, no "
                  "QV-PPP.LOG\n"
                  "Problems\n"
                  "  Configuration: SmtpPort value 99999999 out of range, default used\n"
                  "  Configuration: unknown key $Pop3Sever in line 1, did you mean $Pop3Server?\n"
                  "  Configuration: $SmtpUser in line 3 is not used: it is read from .BFG box "
                  "files only\n"
                  "Served: 0 POP3 accounts, 1 SMTP server; 3 problems\n"},
        CheckCase{"WrongStyleAndAMissingKillfile",
                  {{"QV.BFG", "$Pop3Server=localhost\r\nPPP_Killfile=NONE.KIL\r\n"}},
                  {"--check", "QV.BFG"},
                  1,
                  "Configuration file QV.BFG\n"
                  "Key style: box file, keys without \"$\" (the name's part after its first "
                  "\".\" is BFG)\n"
                  "POP3: off (Pop3Server is not set)\n"
                  "SMTP: off (SmtpServer is not set)\n"
                  "For the whole run\n"
                  "  SmtpAfterPop         no\n"
                  "  TlsCaFile            (none: the system's store)\n"
                  "  PPP_Killfile         NONE.KIL: not loaded, the mail filter is off\n"
                  "  QV.EXE               no release marker: a run with errors ends with the "
                  "\"Configuration info\" notice\n"
                  "  Log                  no QUORVX.CFG: QUIL.LOG in the current directory, no "
                  "QV-PPP.LOG\n"
                  "Problems\n"
                  "  Configuration: $Pop3Server in line 1 is not read: a .BFG file is read "
                  "without \"$\"\n"
                  "  Configuration: neither Pop3Server nor SmtpServer is set, nothing to do\n"
                  "  Killfile NONE.KIL not found\n"
                  "Served: 0 POP3 accounts, 0 SMTP servers; 3 problems\n"},
        CheckCase{"MissingFile",
                  {},
                  {"--check", "NONE.CFG"},
                  1,
                  "Error: Configurationfile 'NONE.CFG' not found!\n"},
        CheckCase{
            "NoFileName", {}, {"--check"}, 1, "Usage: POSTIL --check <Configuration file>\n"}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// A run that does nothing says why in its log, at load, at level 1.
TEST(ConfigurationProblems, AreLoggedAtLoad) {
  Standalone run;
  run.dir.Write("POSTIL.CFG", "$Pop3Sever=localhost\r\n");
  test::RunResult result = run.Run({"POSTIL.CFG"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(LogLines(result.log),
            (std::vector<std::string>{
                "----------  <date>, QUIL v1.99g",
                "! hh:mm:ss  POSTIL   : Configuration: unknown key $Pop3Sever in line 1, did you "
                "mean $Pop3Server?",
                "! hh:mm:ss  POSTIL   : Configuration: neither Pop3Server nor SmtpServer is set, "
                "nothing to do",
                "  hh:mm:ss  POSTIL   : No Cps-Info available",
                "  hh:mm:ss  POSTIL   : END",
            }));
}

// Each server greets the way the other protocol does: the log says that the
// port is probably wrong.
TEST(OtherProtocol, GreetingIsNamed) {
  test::FakeSmtpServer smtp;
  test::FakePop3Server pop3({});
  Standalone run;
  run.dir.Write("POSTIL.CFG", "$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(smtp.port()) +
                                  "\r\n$SmtpServer=127.0.0.1\r\n$SmtpPort=" +
                                  std::to_string(pop3.port()) + "\r\n$SmtpSpool=OUT\r\n");
  run.dir.Write("OUT/M0001.OUT", "From x\nFrom: a@b\nTo: c@d\n\nbody\n");
  test::RunResult result = run.Run({"POSTIL.CFG"});
  EXPECT_EQ(result.exit_code, 3);
  const std::vector<std::string> log = LogLines(result.log);
  EXPECT_TRUE(LoggedInOrder(
      log, {"? hh:mm:ss  POSTIL #1: 220 fake.test ESMTP ready",
            "? hh:mm:ss  POSTIL #1: POP3 Server 127.0.0.1 port " + std::to_string(smtp.port()) +
                " answered like an SMTP server: check Pop3Port (110, or 995 for TLS)"}));
  EXPECT_TRUE(LoggedInOrder(
      log, {"? hh:mm:ss  POSTIL #2: +OK POP3 fake server ready",
            "? hh:mm:ss  POSTIL #2: SMTP Server 127.0.0.1 port " + std::to_string(pop3.port()) +
                " answered like a POP3 server: check SmtpPort (25 or 587, or 465 for TLS)"}));
}

}  // namespace
}  // namespace postil
