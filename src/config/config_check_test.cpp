#include "config/config_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_loader.h"

namespace postil {
namespace {

ConfigReview Review(const std::string& text, bool box_mode, Config* config) {
  ParseConfiguration(text, box_mode, config);
  return ReviewConfiguration(text, box_mode, *config);
}

struct ReviewCase {
  const char* name;
  bool box_mode;
  std::string text;
  std::vector<std::string> problems;
  std::vector<std::string> other_keys = {};
};

// A line that begins within the part the loader reads and goes on past it,
// and a line wholly beyond it.
std::string PastTheReadPart() {
  std::string text = "$Pop3Server=a\r\n";
  text += "' " + std::string(kConfigBytes - text.size() - 20, 'x') + "\r\n";
  text += "$Pop3User=abcdefghij\r\n";  // begins 2 bytes before the limit
  return text + "$Pop3Keep=on\r\n";
}

TEST(ReviewConfiguration, FindsWhatTheLoaderPassesOver) {
  const ReviewCase cases[] = {
      {"Clean", false, "$Pop3Server=a\r\n$SmtpServer=b\r\n", {}},
      {"CleanBoxFileInAnyCaseWithColon", true, "pop3server:a\r\nSMTPSERVER = b\r\n", {}},
      {"ByteOrderMark", false, "\xEF\xBB\xBF$Pop3Server=a\r\n", {}},
      {"NearMiss",
       false,
       "$Pop3Sever=a\r\n$SmtpServer=b\r\n",
       {"Configuration: unknown key $Pop3Sever in line 1, did you mean $Pop3Server?"}},
      {"NearMissSwappedInABoxFile",
       true,
       "Pop3Server=a\r\nSmtpSrever=b\r\n",
       {"Configuration: unknown key SmtpSrever in line 2, did you mean SmtpServer?"}},
      {"UnknownOwnKey",
       false,
       "; a comment: with a colon\r\n$Colour=red\r\n$SmtpServer=b\r\n",
       {"Configuration: unknown key $Colour in line 2"}},
      {"HostKeysOfABoxFileAreNoProblem",
       true,
       "Name=Point\r\nSmtpServer=b\r\nLOGDIR=C:\\QV\r\n",
       {},
       {"Name", "LOGDIR"}},
      {"BareKeysInADollarFile",
       false,
       "Pop3Server=a\r\nSmtpServer=b\r\n",
       {"Configuration: the file holds keys without \"$\" only, but its name (not .BFG) selects "
        "\"$\" keys: no key was read",
        "Configuration: neither Pop3Server nor SmtpServer is set, nothing to do"}},
      {"DollarKeysInABoxFile",
       true,
       "$Pop3Server=a\r\n",
       {"Configuration: the file holds \"$\" keys only, but its .BFG name selects keys without "
        "\"$\": no key was read",
        "Configuration: neither Pop3Server nor SmtpServer is set, nothing to do"}},
      {"OneKeyOfTheOtherStyle",
       false,
       "$Pop3Server=a\r\nSmtpServer=b\r\n",
       {"Configuration: SmtpServer in line 2 is not read: this file is read with \"$\""}},
      {"BoxFileOnlyKeys",
       false,
       "$Pop3Server=a\r\n$SmtpUser=u\r\n$PPP_Killfile=K.KIL\r\n",
       {"Configuration: $SmtpUser in line 2 is not used: it is read from .BFG box files only",
        "Configuration: $PPP_Killfile in line 3 is not used: it is read from .BFG box files "
        "only"}},
      {"GivenTwice",
       false,
       "$Pop3Server=\r\n$SmtpServer=b\r\n$POP3SERVER=a\r\n",
       {"Configuration: $POP3SERVER given again in line 3, not read (line 1 counts)"}},
      {"LeadingBlankAndTwoBlanksBeforeTheEqualsSign",
       false,
       " $Pop3Server=a\r\n$SmtpServer=b\r\n$SmtpPort  =26\r\n",
       {"Configuration: line 1 begins with a blank, $Pop3Server is not read",
        "Configuration: $SmtpPort in line 3 has more than one blank before \"=\", it is not "
        "read"}},
      {"NumbersReadFromALongerText",
       false,
       "$Pop3Server=a b c\r\n$Pop3Port=110 995x 99999999\r\n$Pop3TimeOut=12.6\r\n",
       {"Configuration: Pop3Port value 995x read as 995",
        "Configuration: Pop3TimeOut value 12.6 read as 13"}},
      {"TimeOutsThatAreNoNumberOrZero",
       false,
       "$Pop3Server=a b c d\r\n$Pop3TimeOut=0 abc 0.3 5\r\n$SmtpTimeOut=none\r\n",
       {"Configuration: Pop3TimeOut value 0 is taken as 1 second, the shortest time-out",
        "Configuration: Pop3TimeOut value abc is no number, the default of 15 seconds is used",
        "Configuration: Pop3TimeOut value 0.3 is taken as 1 second, the shortest time-out",
        "Configuration: SmtpTimeOut value none is no number, the default of 15 seconds is used"}},
      {"EmptyServerWord",
       false,
       "$SmtpServer=a  b\r\n",
       {"Configuration: SmtpServer word 2 is empty (two blanks in a row), SMTP server 2 not "
        "served"}},
      {"NothingConfigured",
       false,
       "' only a comment\r\n",
       {"Configuration: neither Pop3Server nor SmtpServer is set, nothing to do"}},
      {"PastTheReadPart",
       false,
       PastTheReadPart(),
       {"Configuration: $Pop3User in line 3 is cut at byte 8012, only the part before it is "
        "read",
        "Configuration: $Pop3Keep in line 4 lies beyond the first 8012 bytes, it is not read"}},
  };
  for (const ReviewCase& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    ConfigReview review = Review(c.text, c.box_mode, &config);
    EXPECT_EQ(review.problems, c.problems);
    EXPECT_EQ(review.other_keys, c.other_keys);
  }
}

TEST(NearestKey, OnlyCloseNamesGetASuggestion) {
  const std::pair<const char*, const char*> cases[] = {
      {"Pop3Sever", "Pop3Server"},
      {"pop3servers", "Pop3Server"},
      {"Pop3Tsl", "Pop3Tls"},
      {"TlsCAFile2", "TlsCaFile"},
      {"SmtpTimeOt", "SmtpTimeOut"},
      {"PPPKillfile", "PPP_Killfile"},
      {"Pop3", ""},
      {"Colour", ""},
      {"Pop3ServerName", ""},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(NearestKey(name), expected);
  }
}

TEST(ServedAccounts, CountsOnlyAccountsARunWouldServe) {
  struct Case {
    std::string text;
    int pop3;
    int smtp;
  };
  const Case cases[] = {
      {"$Pop3Server=a  b\r\n$SmtpServer=c\r\n", 2, 1},
      {"$Pop3Server=disabled\r\n$SmtpServer=Disabled\r\n", 0, 1},
      {"$Pop3Server=a b\r\n$Pop3Tls=off tsl\r\n", 1, 0},
      {"$SmtpServer=a\r\n$SmtpTlsFingerprint=12:34\r\n$SmtpTls=tls\r\n", 0, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Config config;
    ParseConfiguration(c.text, false, &config);
    EXPECT_EQ(ServedPop3Accounts(config), c.pop3);
    EXPECT_EQ(ServedSmtpServers(config), c.smtp);
  }
}

}  // namespace
}  // namespace postil
