// The program's start-up and shut-down paths, run as the host runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/build_system.h"
#include "support/fake_smtp_server.h"
#include "support/host_dir.h"
#include "support/test_system.h"

namespace postil {
namespace {

using test::HostDir;
using test::LogLines;
using test::RunPostilIn;

// The last line names the build it comes from, right-aligned in 79 columns.
const std::string kBuildLine(platform::BuildBannerText());
const std::string kBanner =
    "POSTIL/Win32 v1.99g - Internet mail module\n"
    "Pop3/Smtp-Client for Quorvex v3.3x\n" +
    std::string(79 - kBuildLine.size(), ' ') + kBuildLine + "\n";

const std::string kUsage =
    " \n"
    "Usage: POSTIL <Configuration file>\n"
    " \n"
    "       /NoPop3        - disable Pop3 Thread\n"
    "       /OpenPop3Only  - Pop3 Statistic only\n"
    "       /NoSmtp        - disable Smtp Thread\n";

const std::string kHeader = "----------  <date>, QUIL v1.99g";

TEST(RunControl, UsageTextWithoutArgumentsOrWithAQuestionMark) {
  const std::vector<std::vector<std::string>> command_lines = {{}, {"POSTIL.CFG", "/?"}, {"a?b"}};
  for (const auto& args : command_lines) {
    HostDir dir;
    dir.Write("POSTIL.CFG", "$Pop3Server=\r\n");
    test::RunResult run = RunPostilIn(dir, args);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.console, kBanner + kUsage);
    EXPECT_FALSE(dir.Exists("QUIL.LOG"));  // nothing else happens
  }
}

// Short runs seen whole: what the console shows and every log line.
struct WholeRunCase {
  const char* name;
  void (*prepare)(const HostDir& dir);
  std::vector<std::string> args;
  std::string console;
  std::vector<std::string> log;  // the lines after the header
};
void PrintTo(const WholeRunCase& c, std::ostream* os) { *os << c.name; }

class WholeRun : public testing::TestWithParam<WholeRunCase> {};

TEST_P(WholeRun, ShowsAndLogsExactly) {
  const WholeRunCase& c = GetParam();
  HostDir dir;
  c.prepare(dir);
  test::RunResult run = RunPostilIn(dir, c.args);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, c.console);
  std::vector<std::string> log = {kHeader};
  log.insert(log.end(), c.log.begin(), c.log.end());
  EXPECT_EQ(LogLines(run.log), log);
}

INSTANTIATE_TEST_SUITE_P(
    RunControl, WholeRun,
    testing::Values(WholeRunCase{"NoActiveConnection",
                                 [](const HostDir& dir) {
                                   dir.Write("POSTIL.CFG", "$Pop3Server=\r\n");
                                   dir.WriteNoConnectionMarker();
                                 },
                                 {"POSTIL.CFG"},
                                 kBanner,
                                 {"  hh:mm:ss  POSTIL   : no active connection!"}},
                    WholeRunCase{"MissingConfigurationFile",
                                 [](const HostDir&) {},
                                 {"NONE.CFG", "/NoSmtp"},
                                 kBanner + "\nError: Configurationfile 'NONE.CFG' not found!\n",
                                 {"! hh:mm:ss  POSTIL   : POSTIL Error: 'NONE.CFG' not found!",
                                  "  hh:mm:ss  POSTIL   : END"}},
                    WholeRunCase{"WithoutServers",
                                 [](const HostDir& dir) {
                                   dir.Write("POSTIL.CFG",
                                             "$Pop3Server=\r\n$SmtpServer=disabled\r\n");
                                 },
                                 {"POSTIL.CFG"},
                                 kBanner,
                                 {"  hh:mm:ss  POSTIL   : No Cps-Info available",
                                  "  hh:mm:ss  POSTIL   : END"}},
                    WholeRunCase{"DebugModeShowsTraceLevels",
                                 [](const HostDir& dir) {
                                   dir.Write("QV.BFG", "Pop3Server=\r\n");
                                   dir.EnableDebug();
                                 },
                                 {"QV.BFG"},
                                 kBanner,
                                 {"  hh:mm:ss  POSTIL   : Debug-Mode activated",
                                  "  hh:mm:ss  POSTIL   : Reading Quorvex's RFC/PPP Configuration",
                                  "  hh:mm:ss  POSTIL #0: Console Starting ...",
                                  "  hh:mm:ss  POSTIL #0: Console: Exit requested",
                                  "  hh:mm:ss  POSTIL   : No Cps-Info available",
                                  "  hh:mm:ss  POSTIL   : END"}}),
    [](const testing::TestParamInfo<WholeRunCase>& info) { return info.param.name; });

TEST(RunControl, ConfigurationFileNamesAreMatchedWithoutRegardToCase) {
  HostDir dir;
  dir.Write("postil.cfg", "$Pop3Server=\r\n");
  test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(LogLines(run.log).back(), "  hh:mm:ss  POSTIL   : END");
  EXPECT_EQ(run.console, kBanner);
}

TEST(RunControl, HeaderDateForms) {
  HostDir dir;
  dir.WriteNoConnectionMarker();
  dir.Write("POSTIL.CFG", "");
  test::RunResult plain = RunPostilIn(dir, {"POSTIL.CFG"}, {{"QUILLOG", ""}});
  EXPECT_TRUE(std::regex_search(
      plain.log, std::regex("^----------  (Sun|Mon|Tue|Wed|Thu|Fri|Sat) \\d\\d "
                            "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d\\d, QUIL v1.99g\r\n")))
      << plain.log;
  dir.Write("QUIL.LOG", "");
  test::RunResult qv = RunPostilIn(dir, {"POSTIL.CFG"}, {{"QUILLOG", "qv"}});
  EXPECT_TRUE(std::regex_search(qv.log, std::regex("^----------  \\d\\d\\.\\d\\d\\.\\d{4}, QUIL v1.99g\r\n")))
      << qv.log;
}

TEST(RunControl, LogDirectoryFromTheHostConfiguration) {
  HostDir dir;
  dir.MakeDir("QV/LOG");
  const test::DrivePath drive = test::DrivePathOf(dir.path());
  dir.WriteHostConfig("Name=Point\r\nLogDir=" + drive.prefix + "qv\\log\\\r\n");
  dir.WriteNoConnectionMarker();
  dir.Write("POSTIL.CFG", "");
  test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG"}, drive.env);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_FALSE(dir.Exists("QUIL.LOG"));
  std::string own = dir.Read("QV/LOG/QUIL.LOG");
  EXPECT_EQ(LogLines(own),
            (std::vector<std::string>{kHeader, "  hh:mm:ss  POSTIL   : no active connection!"}));
  EXPECT_EQ(dir.Read("QV/LOG/QV-PPP.LOG"), own);
}

TEST(RunControl, UnwritableLogDirectoryRunsWithoutALog) {
  HostDir dir;
  const test::DrivePath drive = test::DrivePathOf(dir.path());
  dir.WriteHostConfig("LogDir=" + drive.prefix + "missing\\\r\n");
  dir.Write("POSTIL.CFG", "$Pop3Server=\r\n");
  test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG"}, drive.env);
  EXPECT_EQ(run.exit_code, 0);
  const std::string cause = ": " + test::SystemErrorText(test::SystemError::kPathNotFound) + "\n";
  EXPECT_EQ(run.console,
            kBanner + "Error: cannot write to logfile " + drive.prefix + "missing\\QV-PPP.LOG" +
                cause + "Error: cannot write to logfile " + drive.prefix + "missing\\QUIL.LOG" +
                cause);
  EXPECT_FALSE(dir.Exists("QUIL.LOG"));
}

// A log on a full disk is said once, however many lines fail after it; the
// host log is still written.
TEST(RunControl, FullDiskUnderTheLogIsSaidOnce) {
  const std::string full_device = test::FullDevicePath();
  if (full_device.empty()) GTEST_SKIP() << "no device that is always full";
  HostDir dir;
  dir.MakeDir("LOG");
  std::filesystem::create_symlink(full_device, dir.PathOf("LOG/QUIL.LOG"));
  dir.WriteHostConfig("LogDir=LOG/\r\n");
  dir.Write("POSTIL.CFG", "$Pop3Server=\r\n");
  test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console,
            kBanner + "Error: cannot write to logfile LOG/QUIL.LOG: " +
                test::SystemErrorText(test::SystemError::kDiskFull) + "\n");
  EXPECT_EQ(LogLines(dir.Read("LOG/QV-PPP.LOG")),
            (std::vector<std::string>{
                kHeader,
                "  hh:mm:ss  POSTIL   : No Cps-Info available",
                "  hh:mm:ss  POSTIL   : END",
            }));
}

// QUORVX.CFG brings the host log; its LOGDIR is a plain prefix, so a missing
// or empty one puts both logs in the current directory. A byte order mark
// before the first key does not hide it.
TEST(RunControl, HostLogWheneverTheHostConfigurationExists) {
  const std::pair<std::string, std::string> cases[] = {
      {"Name=Point\r\n", ""},
      {"LogDir=\r\nName=Point\r\n", ""},
      {"\xEF\xBB\xBFLogDir=<drive>qv\\log\\\r\n", "QV/LOG/"},
  };
  for (auto [host_config, log_dir] : cases) {
    SCOPED_TRACE(host_config);
    HostDir dir;
    const test::DrivePath drive = test::DrivePathOf(dir.path());
    if (const std::size_t at = host_config.find("<drive>"); at != std::string::npos) {
      host_config.replace(at, 7, drive.prefix);
    }
    dir.MakeDir("QV/LOG");
    dir.WriteHostConfig(host_config);
    dir.WriteNoConnectionMarker();
    dir.Write("POSTIL.CFG", "");
    test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG"}, drive.env);
    EXPECT_EQ(run.console, kBanner);
    std::string own = dir.Read(log_dir + "QUIL.LOG");
    EXPECT_EQ(LogLines(own),
              (std::vector<std::string>{kHeader, "  hh:mm:ss  POSTIL   : no active connection!"}));
    EXPECT_EQ(dir.Read(log_dir + "QV-PPP.LOG"), own);
  }
}

// The switches are found anywhere in the upper-cased command line, also
// glued to other text; a switch cut short is no switch.
TEST(RunControl, SwitchesAreFoundAsSubstrings) {
  const std::pair<const char*, bool> cases[] = {
      {"/nosmtpX", false}, {"x/NoSmTp", false}, {"/NOPOP3/NOSMTP", false}, {"/NoSmt", true}};
  for (const auto& [tail, sends] : cases) {
    SCOPED_TRACE(tail);
    test::FakeSmtpServer server;
    HostDir dir;
    dir.Write("POSTIL.CFG", "$SmtpServer=127.0.0.1\r\n$SmtpPort=" + std::to_string(server.port()) +
                                "\r\n$SmtpSpool=OUT\r\n");
    dir.Write("OUT/M0001.OUT", "From x\nFrom: a@b\nTo: c@d\n\nbody\n");
    test::RunResult run = RunPostilIn(dir, {"POSTIL.CFG", tail});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(server.ConnectionCount(), sends ? 1 : 0);
    EXPECT_EQ(dir.Exists("OUT/M0001.OUT"), !sends);
  }
}

}  // namespace
}  // namespace postil
