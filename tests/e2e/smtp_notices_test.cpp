// The operator notices written at the end of a run with errors, and the
// exit codes of the SMTP side.
#include <gtest/gtest.h>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

const char kNormalFile[] = "From x\nFrom: a@example.org\nTo: b@example.net\n\nbody\n";

std::string NoticeHead(std::string_view server, std::string_view subject) {
  return "HELO " + std::string(server) +
         "\r\nRCPT TO: postmaster@localhost\r\nDATA\r\n<date>\r\n"
         "To: postmaster@localhost\r\nFrom: postil@localhost (QUIL v1.99g)\r\n" +
         std::string(subject) + "\r\n<id>\r\n\r\n\r\n";
}

const std::string kOutdatedHost =
    NoticeHead("127.0.0.1", "Subject: Quorvex Version to old") +
    "\nHinweis: QUIL hat festgestellt, das Ihre Quorvex-Version veraltet ist.\n"
    "Bitte updaten Sie Quorvex mindestens auf die Version 3.30 (https://www.quorvex.example).\n"
    "\n\n\n"
    "QUIL - Internet-Mail-Modul\n\n\n"
    "\r\n.\r\nQUIT\r\n";

const std::string kConfiguration =
    NoticeHead("127.0.0.1", "Subject: Configuration info") +
    "\nHinweis: QUIL hat festgestellt, das Ihre aktuelle Konfiguration veraltet ist.\n"
    "Um alle M\x94glichkeiten von QUIL nutzen zu k\x94nnen, installieren Sie QUIL bitte\n"
    "in der RFC/PPP-Box von Quorvex. Sollte Ihre Quorvex-Version keine\n"
    "RFC/PPP-Box unterst\x81tzen, so updaten Sie Quorvex mindestens auf die\n"
    "Version 3.30 (https://www.quorvex.example).\n"
    "\n\n"
    "QUIL - Internet-Mail-Modul\n\n\n"
    "\r\n.\r\nQUIT\r\n";

// The POP3 side never ran, so its spool directory does not exist yet: the
// notices create it instead of being lost.
TEST(OperatorNotices, BothNoticesByteForByteInTheFirstPop3Directory) {
  SmtpRun run;
  run.server.AddRule({"<greeting>", {"554 5.3.2 not now"}});
  run.Configure({"$Pop3Spool=IN NOTHERE"});
  run.Outgoing("M0001.OUT", kNormalFile);
  ASSERT_FALSE(run.dir.Exists("IN"));
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  ASSERT_EQ(run.dir.List("IN"), (std::vector<std::string>{"M0000.MSG", "M0001.MSG"}));
  EXPECT_EQ(MaskLocalMailStamps(run.dir.Read("IN/M0000.MSG")), kOutdatedHost);
  EXPECT_EQ(MaskLocalMailStamps(run.dir.Read("IN/M0001.MSG")), kConfiguration);
  EXPECT_FALSE(run.dir.Exists("NOTHERE"));
}

struct NoticeCase {
  const char* name;
  bool box_file;
  bool release_marker;
  bool smtp_error;
  std::vector<std::string> subjects;  // of the notices written, in order
};
void PrintTo(const NoticeCase& c, std::ostream* os) { *os << c.name; }

class NoticeChoice : public testing::TestWithParam<NoticeCase> {};

TEST_P(NoticeChoice, FollowsTheExitCodeAndTheHostsState) {
  const NoticeCase& c = GetParam();
  SmtpRun run;
  if (c.smtp_error) run.server.AddRule({"RCPT", {"550 no"}});
  if (c.box_file) {
    run.ConfigureBox();
  } else {
    run.Configure();
  }
  run.dir.WriteHostExe(c.release_marker);
  run.Outgoing("M0001.OUT", kNormalFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, c.smtp_error ? 2 : 0);
  std::vector<std::string> subjects;
  for (const std::string& name : run.dir.List("IN")) {
    std::string mail = run.dir.Read("IN/" + name);
    std::size_t at = mail.find("Subject: ");
    subjects.push_back(mail.substr(at, mail.find('\r', at) - at));
  }
  EXPECT_EQ(subjects, c.subjects);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, NoticeChoice,
    testing::Values(
        NoticeCase{"NoErrorNoNotice", false, false, false, {}},
        NoticeCase{"CurrentHost", true, true, true, {}},
        NoticeCase{"ModuleStyle", false, true, true, {"Subject: Quorvex Version to old"}},
        NoticeCase{"NoReleaseMarker", true, false, true, {"Subject: Configuration info"}}),
    [](const testing::TestParamInfo<NoticeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace postil::test
