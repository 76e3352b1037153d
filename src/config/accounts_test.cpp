#include "config/accounts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_loader.h"

namespace postil {
namespace {

TEST(Accounts, WordSelectionAndFallback) {
  EXPECT_EQ(AccountWord("a b c", 2, Fallback::kNone), "b");
  EXPECT_EQ(AccountWord("a b", 3, Fallback::kNone), "");
  EXPECT_EQ(AccountWord("a b", 3, Fallback::kFirstWord), "a");
  EXPECT_EQ(AccountWord("a  c", 2, Fallback::kNone), "");
  EXPECT_EQ(AccountWord("a  c", 3, Fallback::kNone), "c");
  EXPECT_EQ(AccountWord("a  c", 2, Fallback::kFirstWord), "a");
  EXPECT_EQ(AccountCount("a b"), 2);
  EXPECT_EQ(AccountCount("a b "), 3);
  EXPECT_EQ(AccountCount("a  b"), 3);
}

TEST(Accounts, Pop3AccountValues) {
  Config config;
  config.Pop3Server = "a b";
  config.Pop3User = "anna";
  config.Pop3Pass = "pw";
  config.Pop3Port = "110 0";
  config.Pop3Spool = "SPOOL";
  config.Pop3TimeOut = "20";
  config.Pop3Envelope = "x@y";
  config.Pop3UseEnvelope = "disabled y";
  config.Pop3Keep = "on";
  config.Pop3MaxLen = "5000000";
  Pop3Account second = SelectPop3Account(config, 2);
  EXPECT_EQ(second.server, "b");
  EXPECT_EQ(second.port, 110);  // 0 falls back to word 1
  EXPECT_EQ(second.user, "");   // no fallback
  EXPECT_EQ(second.password, "");
  EXPECT_EQ(second.spool_dir, "SPOOL\\");
  EXPECT_EQ(second.time_out, 20);
  EXPECT_EQ(second.envelope, "x@y");
  EXPECT_TRUE(second.use_envelope);
  EXPECT_TRUE(second.keep_on_server);
  EXPECT_EQ(second.max_len, 5000000);
  EXPECT_FALSE(SelectPop3Account(config, 1).use_envelope);
}

TEST(Accounts, SmtpAccountValues) {
  Config config;
  config.SmtpServer = "one two";
  config.SmtpUser = "nein";
  config.SmtpPort = "587";
  config.SmtpSpool = "C:\\OUT\\";
  config.SmtpTimeOut = "15";
  config.SmtpBurst = "enabled";
  config.SmtpEnvelope = "off me@x";
  config.SmtpRedirect = "aus";
  SmtpAccount first = SelectSmtpAccount(config, 1);
  SmtpAccount second = SelectSmtpAccount(config, 2);
  EXPECT_EQ(first.User, "nein");
  EXPECT_EQ(second.User, "");
  EXPECT_EQ(second.Port, 587);
  EXPECT_EQ(second.SpoolDir, "C:\\OUT\\");
  EXPECT_TRUE(second.Burst);
  EXPECT_EQ(first.Envelope, "");  // an off-word counts as empty
  EXPECT_EQ(second.Envelope, "me@x");
  EXPECT_EQ(first.Redirect, "");
}

TEST(Accounts, NumbersThatDoNotFitUseTheDefault) {
  Config config;
  config.Pop3Server = "a";
  config.Pop3Port = "99999999";
  config.Pop3TimeOut = "40000";
  config.Pop3MaxLen = "3000000000";
  Pop3Account account = SelectPop3Account(config, 1);
  EXPECT_EQ(account.port, 110);
  EXPECT_EQ(account.time_out, 15);
  EXPECT_EQ(account.max_len, 5000000);
  config.Pop3Port = "65535";
  EXPECT_EQ(SelectPop3Account(config, 1).port, 65535);
}

// A time-out is never 0: a number that rounds to 0 is the shortest one, a
// word that is no number the default, on both sides.
TEST(Accounts, TimeOutWords) {
  const struct {
    const char* word;
    int seconds;
  } cases[] = {
      {"20", 20},  {"7x", 7},     {"1", 1},   {"0", 1},      {"0.4", 1},      {"00", 1},
      {"abc", 15}, {"", 15},      {"-1", 15}, {"32767", 32767}, {"32768", 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(TimeOutSeconds(c.word), c.seconds);
  }
  Config config;
  config.Pop3Server = config.SmtpServer = "a b";
  config.Pop3TimeOut = config.SmtpTimeOut = "0 none";
  EXPECT_EQ(SelectPop3Account(config, 1).time_out, 1);
  EXPECT_EQ(SelectPop3Account(config, 2).time_out, 15);
  EXPECT_EQ(SelectSmtpAccount(config, 1).TimeOut, 1);
  EXPECT_EQ(SelectSmtpAccount(config, 2).TimeOut, 15);
}

}  // namespace
}  // namespace postil

namespace postil {
namespace {

TEST(AccountTls, ModeAndFingerprintWords) {
  const std::string print = "ab:CD:" + std::string(60, 'e');
  const std::string normal = "ABCD" + std::string(60, 'E');
  const struct {
    std::string_view modes;
    std::string prints;
    int account;
    int port;
    TlsMode mode;
    std::string fingerprint;
    bool served;
  } cases[] = {
      {"", "", 1, 995, TlsMode::kImplicit, "", true},  // the TLS port's default
      {"", "", 1, 110, TlsMode::kOff, "", true},
      {"off", "", 1, 995, TlsMode::kOff, "", true},
      {"STARTTLS", "", 1, 110, TlsMode::kStartTls, "", true},
      {"tls", "", 2, 110, TlsMode::kImplicit, "", true},  // word 1 for a missing word 2
      {"off  starttls", "", 2, 110, TlsMode::kOff, "", true},
      {"ssl", "", 1, 995, TlsMode::kOff, "", false},
      {"tls", print, 1, 110, TlsMode::kImplicit, normal, true},
      {"tls", normal, 1, 110, TlsMode::kImplicit, normal, true},
      {"tls", "ABCD", 1, 110, TlsMode::kImplicit, "", false},
      {"tls", std::string(64, 'G'), 1, 110, TlsMode::kImplicit, "", false},
      {"off", normal, 1, 110, TlsMode::kOff, "", false},  // a fingerprint asks for TLS
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.modes) + " / " + c.prints);
    AccountTls tls = SelectAccountTls(c.modes, c.prints, c.account, c.port, kPop3TlsKeys);
    EXPECT_EQ(tls.problem.empty(), c.served) << tls.problem;
    if (!c.served) continue;
    EXPECT_EQ(tls.mode, c.mode);
    EXPECT_EQ(tls.fingerprint, c.fingerprint);
  }
}

TEST(AccountTls, AccountsCarryTheirTlsAndBadWordsAreReported) {
  Config config;
  config.Pop3Server = "a b";
  config.Pop3Port = "995 110";
  config.SmtpServer = "s";
  config.SmtpPort = "465";
  EXPECT_EQ(SelectPop3Account(config, 1).tls.mode, TlsMode::kImplicit);
  EXPECT_EQ(SelectPop3Account(config, 2).tls.mode, TlsMode::kOff);
  EXPECT_EQ(SelectSmtpAccount(config, 1).Tls.mode, TlsMode::kImplicit);

  Config parsed;
  std::vector<std::string> notes = ParseConfiguration(
      "$Pop3Server=a b\r\n$Pop3Tls=tls secure\r\n$SmtpServer=disabled\r\n$SmtpTls=bad\r\n",
      false, &parsed);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            "Configuration: Pop3Tls value secure not known (off, tls or starttls), POP3 account 2 "
            "not served");
  EXPECT_EQ(parsed.SmtpTls, "bad");
}

}  // namespace
}  // namespace postil
