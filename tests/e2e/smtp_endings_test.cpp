// Every way a transaction ends other than with the message taken, as the
// SMTP worker's whole log and the whole dialogue show it: what is logged in
// which order, whether RSET goes, whether the connection is closed or the
// next file goes over it, which files stay and which bounces are written.
#include <gtest/gtest.h>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

using Fault = FakeSmtpServer::Fault;
using Lines = std::vector<std::string>;

const char kNormal[] = "From x\nFrom: a@b\nTo: c@d\n\none\n";
// Follows every case's file, to show what is left of the connection.
const char kNextFile[] = "From x\nFrom: a@b\nTo: e@f\n\ntwo\n";

struct EndingCase {
  const char* name;
  std::string file;
  std::vector<FakeSmtpServer::Rule> rules;
  Lines commands;         // up to the next file
  Lines log;              // the SMTP worker's, after connecting, up to the next file
  Lines kept;             // the spool files left after the run
  bool next_sent = true;  // over the same connection
  bool bounce = false;
  int exit_code = 2;
};
void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class TransactionEnding : public testing::TestWithParam<EndingCase> {};

TEST_P(TransactionEnding, LogsDialogueAndFilesAreExact) {
  const EndingCase& c = GetParam();
  SmtpRun run;
  for (const FakeSmtpServer::Rule& rule : c.rules) run.server.AddRule(rule);
  run.ConfigureBox();
  run.dir.WriteHostExe(true);  // no operator notices in the way
  run.Outgoing("M0001.OUT", c.file);
  run.Outgoing("M0002.OUT", kNextFile);
  RunResult result = run.Run();

  Lines commands = c.commands;
  Lines log = {"~ SMTP Starting to 127.0.0.1", "  220 fake.test ESMTP ready",
               "= SMTP Connection etablished"};
  log.insert(log.end(), c.log.begin(), c.log.end());
  if (c.next_sent) {
    commands.insert(commands.end(), {"MAIL FROM:<a@b>", "RCPT TO:<e@f>", "DATA", ".", "QUIT"});
    log.insert(log.end(), {"- Mail from: <a@b>", "- Mail to: <e@f>", "  250 2.0.0 Ok: queued"});
  }
  log.push_back("= SMTP to 127.0.0.1 disconnected");
  EXPECT_EQ(result.exit_code, c.exit_code) << result.log;
  EXPECT_EQ(run.server.Commands(), commands);
  EXPECT_EQ(run.smtp_log, log) << result.log;
  EXPECT_EQ(run.dir.List("OUT"), c.kept);
  EXPECT_EQ(run.dir.Exists("M0000.MSG"), c.bounce);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, TransactionEnding,
    testing::Values(
        // The server closes: the empty reply is a refusal, and nothing more
        // goes over the connection.
        EndingCase{
            "NormalClosedAtMail",
            kNormal,
            {{"MAIL", {}, Fault::kClose}},
            {"HELO b", "MAIL FROM:<a@b>"},
            {"- Mail from: <a@b>", "? MAIL FROM:<a@b>", "? ", "? Error sending: OUT\\M0001.OUT"},
            {"M0001.OUT", "M0002.OUT"},
            false},
        // After the data no transaction is open: no RSET.
        EndingCase{"NormalRefusedAfterData",
                   kNormal,
                   {{".", {"554 5.6.0 content rejected"}, Fault::kNone, 1}},
                   {"HELO b", "MAIL FROM:<a@b>", "RCPT TO:<c@d>", "DATA", "."},
                   {"- Mail from: <a@b>", "- Mail to: <c@d>", "? 554 5.6.0 content rejected",
                    "? Error sending: OUT\\M0001.OUT"},
                   {"M0001.OUT"}},
        // No command refused: an empty one is logged. The next file greets
        // again.
        EndingCase{"NormalGreetingRefused",
                   kNormal,
                   {{"HELO", {"554 5.7.1 go away"}, Fault::kNone, 1}},
                   {"HELO b", "HELO b"},
                   {"? ", "? 554 5.7.1 go away", "? Error sending: OUT\\M0001.OUT"},
                   {"M0001.OUT"}},
        // No error, but the transaction it opened is reset for the next file.
        EndingCase{
            "BatchedQuitWithoutData",
            "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\nQUIT\n",
            {},
            {"HELO h", "MAIL FROM:<a@b>", "RCPT TO:<c@d>", "RSET"},
            {"- Mail from: <a@b>", "- Mail to: <c@d>", "  Reset Connection", "  250 2.0.0 Ok"},
            {},
            true,
            false,
            0},
        EndingCase{
            "BatchedCommandsUnreadable",
            "HELO h\nMAIL FROM:<a@b>\n" + std::string(2 << 20, 'x') + "\nDATA\n.\n",
            {},
            {"HELO h", "MAIL FROM:<a@b>", "RSET"},
            {"- Mail from: <a@b>", "! Error: parsing Spoolfile", "? Error: Spoolfile unreadable",
             "  Reset Connection", "  250 2.0.0 Ok", "? Error sending: OUT\\M0001.OUT"},
            {"M0001.OUT"}},
        EndingCase{"BatchedRefusedAfterData",
                   kBatchedFile,
                   {{".", {"554 5.6.0 content rejected"}, Fault::kNone, 1}},
                   {"HELO host.example", "MAIL FROM:<anna@example.org>",
                    "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>", "DATA", "."},
                   {"- Mail from: <anna@example.org>", "- Mail to: <bob@example.net>",
                    "- Mail to: <carl@example.net>", "? .", "? 554 5.6.0 content rejected",
                    "? Error sending: OUT\\M0001.OUT"},
                   {"M0001.OUT"}},
        // Not for good: the sender hears of it all the same, and the message
        // stays for the next run.
        EndingCase{"BatchedRefusedForNow",
                   kBatchedFile,
                   {{"RCPT TO:<carl@example.net>", {"450 4.2.0 try later"}}},
                   {"HELO host.example", "MAIL FROM:<anna@example.org>",
                    "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>", "RSET"},
                   {"- Mail from: <anna@example.org>", "- Mail to: <bob@example.net>",
                    "- Mail to: <carl@example.net>", "? 450 4.2.0 try later", "  Reset Connection",
                    "  250 2.0.0 Ok", "? Error sending: OUT\\M0001.OUT"},
                   {"M0001.OUT"},
                   true,
                   true}),
    [](const testing::TestParamInfo<EndingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace postil::test
