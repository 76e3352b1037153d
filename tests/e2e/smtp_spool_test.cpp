// Outgoing spool files against the fake server: the bytes that reach the
// server for normal and batched files, which files are sent in which order,
// which are deleted and which stay.
#include <gtest/gtest.h>

#include "e2e/smtp_fixture.h"

namespace postil::test {
namespace {

using namespace std::string_literals;

const std::string kClient = " (127.0.0.1) Internet mail module for Quorvex";

const char kNormalFile[] =
    "From anna@example.org Sun Dec  6 09:05:07 2026\n"
    "From: Anna Berg <anna@example.org>\n"
    "To: bob@example.net\n"
    "X-Mailer: Quorvex 3.30\n"
    "--\n"
    "Subject: Test\n"
    "\n"
    ".hidden\n"
    "..two\n"
    "--\n"
    "last line";

struct NormalCase {
  const char* name;
  std::vector<std::string> config;
  std::string file;
  std::string helo;
  std::string mail_from;
  std::string rcpt_to;
  std::string data;
};
void PrintTo(const NormalCase& c, std::ostream* os) { *os << c.name; }

class NormalSpoolFile : public testing::TestWithParam<NormalCase> {};

TEST_P(NormalSpoolFile, ReachesTheServerRewrittenAndDotStuffed) {
  const NormalCase& c = GetParam();
  for (const char* burst : {"on", "off"}) {
    SCOPED_TRACE(std::string("burst ") + burst);
    SmtpRun run;
    std::vector<std::string> config = c.config;
    config.push_back(std::string("$SmtpBurst=") + burst);
    run.Configure(config);
    run.Outgoing("M0001.OUT", c.file);
    RunResult result = run.Run();
    EXPECT_EQ(result.exit_code, 0) << result.log;
    auto messages = run.server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].helo, c.helo);
    EXPECT_EQ(messages[0].mail_from, c.mail_from);
    EXPECT_EQ(messages[0].rcpt_to, std::vector<std::string>{c.rcpt_to});
    EXPECT_EQ(messages[0].data, c.data);
    EXPECT_TRUE(messages[0].accepted);
    EXPECT_FALSE(run.Kept("M0001.OUT"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NormalSpoolFile,
    testing::Values(
        NormalCase{"Plain",
                   {},
                   kNormalFile,
                   "example.org",
                   "<anna@example.org>",
                   "<bob@example.net>",
                   "From: Anna Berg <anna@example.org>\r\nTo: bob@example.net\r\n"
                   "X-Mailer: Quorvex 3.30, via SMTP\r\nX-Smtp-Client: QUIL v1.99g" +
                       kClient +
                       "\r\n--\r\nSubject: Test\r\n\r\n..hidden\r\n...two\r\n-- \r\n"
                       "last line\r\n.\r\n"},
        // Redirect replaces the sender in the envelope and in "From:".
        NormalCase{"Redirect",
                   {"$SmtpRedirect=me@redirect.example"},
                   kNormalFile,
                   "redirect.example",
                   "<me@redirect.example>",
                   "<bob@example.net>",
                   "From: Anna Berg <me@redirect.example>\r\nTo: bob@example.net\r\n"
                   "X-Mailer: Quorvex 3.30, via SMTP\r\nX-Smtp-Client: QUIL v1.99g" +
                       kClient +
                       "\r\n--\r\nSubject: Test\r\n\r\n..hidden\r\n...two\r\n-- \r\n"
                       "last line\r\n.\r\n"},
        // Envelope changes MAIL FROM alone, and wins over Redirect there.
        NormalCase{"EnvelopeOverRedirect",
                   {"$SmtpEnvelope=env@envelope.example", "$SmtpRedirect=me@redirect.example"},
                   "FROM: a@b.example\nTo: c@d.example\nFrom: Anna <anna@example.org>\n\nx\n",
                   "envelope.example",
                   "<env@envelope.example>",
                   "<c@d.example>",
                   "To: c@d.example\r\nFrom: Anna <me@redirect.example>\r\n\r\nx\r\n.\r\n"},
        // A display name in "To:" must not end up inside RCPT TO; the later
        // "To:" wins, Cc adds nobody, a sender without "@" greets as "me".
        NormalCase{"BracketedRecipient",
                   {},
                   "From x\nFrom: local\nTo: first@example.net\nCc: c@example.net\n"
                   "To: \"Bob B.\" <bob@example.net>\n\nbody\n",
                   "me",
                   "<local>",
                   "<bob@example.net>",
                   "From: local\r\nTo: first@example.net\r\nCc: c@example.net\r\n"
                   "To: \"Bob B.\" <bob@example.net>\r\n\r\nbody\r\n.\r\n"},
        // CR inside a line goes, NUL bytes stay; a header line "." is
        // stuffed so it cannot end the data.
        NormalCase{"OddBytes",
                   {},
                   "From x\r\nFrom: a@b.example\r\nTo: c@d.example\r\n.odd\r\n\r\n"
                   "a\rb\0c\r\n"s,
                   "b.example",
                   "<a@b.example>",
                   "<c@d.example>",
                   "From: a@b.example\r\nTo: c@d.example\r\n..odd\r\n\r\nab\0c\r\n.\r\n"s}),
    [](const testing::TestParamInfo<NormalCase>& info) { return info.param.name; });

TEST(BatchedSpoolFile, ReplaysTheCommandsWithTheEnvelopeRules) {
  SmtpRun run;
  run.Configure({"$SmtpEnvelope=env@envelope.example", "$SmtpRedirect=me@redirect.example"});
  run.Outgoing("M0001.OUT", kBatchedFile);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_EQ(run.server.Commands(),
            (std::vector<std::string>{"HELO host.example", "MAIL FROM:<env@envelope.example>",
                                      "RCPT TO:<bob@example.net>", "RCPT TO:<carl@example.net>",
                                      "DATA", ".", "QUIT"}));
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].data, "From: Anna <me@redirect.example>\r\n"
                              "X-Mailer: Quorvex 3.30, via BSMTP\r\n"
                              "X-BSmtp-Client: QUIL v1.99g" + kClient + "\r\n"
                              "Subject: b\r\n\r\n..dotted\r\n-- \r\n.\r\n");
  EXPECT_FALSE(run.Kept("M0001.OUT"));
  EXPECT_TRUE(Contains(run.smtp_log, "- Mail from: <env@envelope.example>"));
  EXPECT_TRUE(Contains(run.smtp_log, "- Mail to: <carl@example.net>"));
}

TEST(BatchedSpoolFile, LongSenderIsCutTo80Characters) {
  SmtpRun run;
  run.Configure();
  std::string sender = std::string(90, 'a') + "@example.org";
  run.Outgoing("M0001.OUT", "helo x\nMAIL FROM:<" + sender + ">\nRCPT TO:<b@c>\nDATA\n\nx\n.\nQUIT\n");
  RunResult result = run.Run();
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  // The 80 characters after "MAIL FROM:" include the "<".
  EXPECT_EQ(messages[0].mail_from, "<" + std::string(79, 'a') + ">");
  EXPECT_EQ(messages[0].helo, "x");
}

// A file may hold further messages after the first "."; each is sent over
// the same connection, and the file goes only when all were taken.
TEST(BatchedSpoolFile, SendsEveryMessageOfTheFile) {
  const std::string two = "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\nDATA\n\none\n.\n"
                          "MAIL FROM:<e@f>\nRCPT TO:<g@h>\nDATA\n\ntwo\n.\nQUIT\n";
  for (bool refuse_second : {false, true}) {
    SCOPED_TRACE(refuse_second ? "second refused" : "both taken");
    SmtpRun run;
    if (refuse_second) run.server.AddRule({".", {"554 5.7.1 no"}, FakeSmtpServer::Fault::kNone, -1, 1});
    run.Configure();
    run.Outgoing("M0001.OUT", two);
    RunResult result = run.Run();
    auto messages = run.server.Messages();
    ASSERT_EQ(messages.size(), 2u) << result.log;
    EXPECT_EQ(messages[0].data, "\r\none\r\n.\r\n");
    EXPECT_TRUE(messages[0].accepted);
    EXPECT_EQ(messages[1].mail_from, "<e@f>");
    EXPECT_EQ(messages[1].data, "\r\ntwo\r\n.\r\n");
    EXPECT_EQ(messages[1].accepted, !refuse_second);
    // A refused later message keeps the whole file: nothing is lost.
    EXPECT_EQ(run.Kept("M0001.OUT"), refuse_second);
    EXPECT_EQ(result.exit_code, refuse_second ? 2 : 0) << result.log;
  }
}

TEST(OutgoingSpool, SendsOutFilesBeforeEmlFilesOverOneConnection) {
  SmtpRun run;
  run.Configure();
  run.dir.EnableDebug();
  run.Outgoing("A.EML", "HELO eml\nMAIL FROM:<e@x>\nRCPT TO:<r@x>\nDATA\n\neml\n.\nQUIT\n");
  run.Outgoing("M0007.OUT", "From x\nFrom: o@x\nTo: r@x\n\nout\n");
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].data, "From: o@x\r\nTo: r@x\r\n\r\nout\r\n.\r\n");
  EXPECT_EQ(messages[1].data, "\r\neml\r\n.\r\n");
  EXPECT_EQ(run.server.ConnectionCount(), 1);
  EXPECT_TRUE(Contains(run.smtp_log, "* Mode: Batched Smtp"));
  EXPECT_EQ(run.dir.List("OUT"), std::vector<std::string>{});
}

TEST(OutgoingSpool, UnknownFormatBeepsPausesAndStays) {
  SmtpRun run;
  run.Configure();
  run.Outgoing("M0001.OUT", "");  // shorter than four bytes
  run.Outgoing("M0002.OUT", "From x\nFrom: o@x\nTo: r@x\n\nok\n");
  RunResult result = run.Run();
  // The unknown file is not an SMTP error; the next file still goes.
  EXPECT_EQ(result.exit_code, 0) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_FALSE(run.Kept("M0002.OUT"));
  EXPECT_EQ(LogFrom(run.smtp_log, "? Mode: unknown Format of Spoolfile", 2),
            (std::vector<std::string>{"? Mode: unknown Format of Spoolfile",
                                      "? Error sending: OUT\\M0001.OUT"}))
      << result.log;
  EXPECT_EQ(run.server.Messages().size(), 1u);
}

TEST(OutgoingSpool, BurstSendsThePiecesOfJustOver2048Bytes) {
  std::string file = "From x\nFrom: o@x\nTo: r@x\n\n";
  for (int i = 0; i < 100; ++i) file += std::string(98, 'a' + i % 26) + "\n";  // 100 bytes on the wire
  for (bool burst : {true, false}) {
    SCOPED_TRACE(burst ? "burst on" : "burst off");
    SmtpRun run;
    run.Configure({burst ? "$SmtpBurst=enabled" : "$SmtpBurst=disabled"});
    run.Outgoing("M0001.OUT", file);
    run.Run();
    auto messages = run.server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data_size, 22u + 100 * 100 + 3);
    if (!burst) continue;
    // 21 lines pass 2,048 bytes: four pieces of 2,100 bytes, then the rest
    // (16 lines) with ".", unless the kernel joined pieces.
    // The 22 header bytes go line by line before the body's pieces.
    std::vector<std::size_t> sizes = messages[0].receive_sizes;
    for (std::size_t header = 22; !sizes.empty() && sizes.front() <= header;) {
      header -= sizes.front();
      sizes.erase(sizes.begin());
    }
    ASSERT_FALSE(sizes.empty());
    // The final "." line may go out as a send of its own after the rest.
    if (sizes.size() > 1 && sizes.back() == 3) sizes.pop_back();
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_GE(sizes[i], 2049u) << i;
    EXPECT_LE(sizes.size(), 6u);
  }
}

struct KeptCase {
  const char* name;
  std::string file;
  std::string log_line;         // the reason in the log
  std::size_t messages_started;  // messages the server saw begin
};
void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.name; }

class SpoolFileKept : public testing::TestWithParam<KeptCase> {};

TEST_P(SpoolFileKept, LogsTheReasonAndKeepsTheFile) {
  const KeptCase& c = GetParam();
  SmtpRun run;
  run.Configure();
  run.Outgoing("M0001.OUT", c.file);
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 2) << result.log;
  EXPECT_TRUE(run.Kept("M0001.OUT"));
  EXPECT_TRUE(Contains(run.smtp_log, c.log_line)) << result.log;
  EXPECT_TRUE(Contains(run.smtp_log, "? Error sending: OUT\\M0001.OUT"));
  auto messages = run.server.Messages();
  EXPECT_EQ(messages.size(), c.messages_started);
  for (const auto& message : messages) EXPECT_FALSE(message.complete);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, SpoolFileKept,
    testing::Values(
        KeptCase{"NoRecipient", "From x\nFrom: a@b\nSubject: s\n\nbody\n",
                 "? Error: no sender or recipient in Spoolfile", 0},
        KeptCase{"BatchedWithoutData", "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\n",
                 "? Error: Spoolfile ends before DATA", 0},
        // The data cannot be completed: the server must discard it.
        KeptCase{"BatchedWithoutDot", "HELO h\nMAIL FROM:<a@b>\nRCPT TO:<c@d>\nDATA\n\nbody\n",
                 "? Error: Spoolfile ends without \".\", message abandoned", 1},
        KeptCase{"LineBeyondTheLimit",
                 "From x\nFrom: a@b\nTo: c@d\n\n" + std::string(2 << 20, 'x') + "\n",
                 "! Error: parsing Spoolfile", 1}),
    [](const testing::TestParamInfo<KeptCase>& info) { return info.param.name; });

TEST(OutgoingSpool, MegabyteLineIsSentWhole) {
  SmtpRun run;
  run.Configure();
  std::string line(1000000, 'x');
  run.Outgoing("M0001.OUT", "From x\nFrom: a@b\nTo: c@d\n\n" + line + "\nend\n");
  RunResult result = run.Run();
  EXPECT_EQ(result.exit_code, 0) << result.log;
  auto messages = run.server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].data, "From: a@b\r\nTo: c@d\r\n\r\n" + line + "\r\nend\r\n.\r\n");
  EXPECT_FALSE(run.Kept("M0001.OUT"));
}

}  // namespace
}  // namespace postil::test
