#include "config/config_check.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "config/accounts.h"
#include "config/config_loader.h"
#include "config/lookup_setting.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Two slips catch a left-out, doubled or swapped letter and its neighbour,
// without matching unrelated short words.
constexpr std::size_t kMaxSlips = 2;

// A line whose part before its first ":" or "=" is a key name, as the
// lookup sees it.
struct KeyLine {
  std::string name;  // without "$"
  bool dollar = false;
  bool leading_blank = false;  // the lookup never matches such a line
  bool extra_blanks = false;   // more than the one blank the lookup drops before "="
  int number = 0;              // 1-based
  bool read = false;           // begins within the part the loader reads
  bool cut = false;            // and goes on beyond it
};

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  std::size_t separator = line.find_first_of(":=");
  if (separator == std::string_view::npos) return std::nullopt;
  std::string_view head = line.substr(0, separator);
  KeyLine key;
  key.leading_blank = head.starts_with(' ');
  head.remove_prefix(std::min(head.find_first_not_of(' '), head.size()));
  key.dollar = head.starts_with('$');
  if (key.dollar) head.remove_prefix(1);
  std::size_t name_end = head.find_last_not_of(' ') + 1;
  key.extra_blanks = head.size() - name_end > 1;
  head = head.substr(0, name_end);
  if (head.empty() || !std::all_of(head.begin(), head.end(), IsNameByte)) return std::nullopt;
  if (head.front() >= '0' && head.front() <= '9') return std::nullopt;
  key.name = std::string(head);
  return key;
}

// Optimal string alignment distance of two upper-cased names.
std::size_t Slips(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::optional<ConfigKey> FindKey(std::string_view name) {
  const std::string upper = UpperCase(name);
  for (const ConfigKey& key : ConfigurationKeys()) {
    if (UpperCase(key.name) == upper) return key;
  }
  return std::nullopt;
}

bool IsWholeNumber(std::string_view word) {
  long long value = 0;
  if (word.starts_with('+')) word.remove_prefix(1);
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc() && end == word.data() + word.size();
}

class Reviewer {
 public:
  explicit Reviewer(bool box_mode) : box_mode_(box_mode) {}

  void Line(const KeyLine& line) {
    if (line.leading_blank || line.dollar == box_mode_) {
      // A key of the other style is not read; one with a leading blank is
      // not read in either.
      if (!FindKey(line.name)) return;
      if (line.leading_blank) {
        Say("line " + Number(line) + " begins with a blank, " + Written(line) + " is not read");
      } else if (line.read) {
        other_style_.push_back(line);
      }
      return;
    }
    std::optional<ConfigKey> key = FindKey(line.name);
    if (!key) return Unknown(line);
    if (line.extra_blanks) {
      Say(Written(line) + " in line " + Number(line) +
          " has more than one blank before \"=\", it is not read");
    } else if (!line.read) {
      Say(Written(line) + " in line " + Number(line) + " lies beyond the first " +
          std::to_string(kConfigBytes) + " bytes, it is not read");
    } else if (auto [first, fresh] = first_line_.emplace(UpperCase(key->name), line.number);
               !fresh) {
      Say(Written(line) + " given again in line " + Number(line) + ", not read (line " +
          std::to_string(first->second) + " counts)");
    } else {
      Known(line, *key);
    }
  }

  ConfigReview Finish() {
    if (own_style_keys_ == 0 && !other_style_.empty()) {
      Say(box_mode_ ? "the file holds \"$\" keys only, but its .BFG name selects keys without "
                      "\"$\": no key was read"
                    : "the file holds keys without \"$\" only, but its name (not .BFG) selects "
                      "\"$\" keys: no key was read");
    } else {
      for (const KeyLine& line : other_style_) {
        Say(Written(line) + " in line " + Number(line) + " is not read: " +
            (box_mode_ ? "a .BFG file is read without \"$\"" : "this file is read with \"$\""));
      }
    }
    if (!first_line_.contains("POP3SERVER") && !first_line_.contains("SMTPSERVER"))
      Say("neither Pop3Server nor SmtpServer is set, nothing to do");
    return std::move(review_);
  }

  void Say(const std::string& text) { review_.problems.push_back("Configuration: " + text); }

 private:
  static std::string Number(const KeyLine& line) { return std::to_string(line.number); }
  static std::string Written(const KeyLine& line) { return (line.dollar ? "$" : "") + line.name; }

  void Unknown(const KeyLine& line) {
    std::string_view nearest = NearestKey(line.name);
    if (!nearest.empty()) {
      Say("unknown key " + Written(line) + " in line " + Number(line) + ", did you mean " +
          (line.dollar ? "$" : "") + std::string(nearest) + "?");
    } else if (box_mode_) {
      review_.other_keys.push_back(Written(line));
    } else {
      Say("unknown key " + Written(line) + " in line " + Number(line));
    }
  }

  void Known(const KeyLine& line, const ConfigKey& key) {
    ++own_style_keys_;
    if (line.cut) {
      Say(Written(line) + " in line " + Number(line) + " is cut at byte " +
          std::to_string(kConfigBytes) + ", only the part before it is read");
    }
    if (key.box_file_only && !box_mode_) {
      Say(Written(line) + " in line " + Number(line) +
          " is not used: it is read from .BFG box files only");
    }
  }

  bool box_mode_;
  ConfigReview review_;
  std::map<std::string, int> first_line_;  // upper-cased key name: line that counts
  std::vector<KeyLine> other_style_;
  int own_style_keys_ = 0;
};

void ReviewLines(std::string_view text, Reviewer* reviewer) {
  std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (std::optional<KeyLine> key = ParseKeyLine(line)) {
      key->number = number;
      key->read = start < kConfigBytes;
      key->cut = key->read && start + line.size() > kConfigBytes;
      reviewer->Line(*key);
    }
    start = end + 1;
  }
}

bool IsTimeOut(const NumberSetting& setting) {
  return setting.member == &Config::Pop3TimeOut || setting.member == &Config::SmtpTimeOut;
}

// A time-out word that does not give the seconds it seems to: no number at
// all, or one that rounds to 0, which can mean neither no wait nor no end.
std::optional<std::string> TimeOutNote(std::string_view name, const std::string& word) {
  if (word.empty()) return std::nullopt;
  const std::string seconds = std::to_string(TimeOutSeconds(word));
  if (!LeadingNumber(word)) {
    return std::string(name) + " value " + word + " is no number, the default of " + seconds +
           " seconds is used";
  }
  if (NumericValue(word) != 0) return std::nullopt;
  return std::string(name) + " value " + word + " is taken as " + seconds +
         " second, the shortest time-out";
}

void ReviewNumbers(const Config& config, Reviewer* reviewer) {
  for (const NumberSetting& setting : NumberSettings()) {
    const std::string& list = config.*setting.member;
    for (int i = 1; i <= AccountCount(list); ++i) {
      std::string word = AccountWord(list, i, Fallback::kNone);
      if (IsTimeOut(setting)) {
        if (std::optional<std::string> note = TimeOutNote(setting.name, word)) {
          reviewer->Say(*note);
          continue;
        }
      }
      double value = NumericValue(word);
      if (word.empty() || IsWholeNumber(word) || value < static_cast<double>(setting.min) ||
          value > static_cast<double>(setting.max))
        continue;  // the loader has said what it does with a number out of range
      reviewer->Say(std::string(setting.name) + " value " + word + " read as " +
                    std::to_string(static_cast<long long>(value)));
    }
  }
}

bool IsSwitchedOff(const std::string& servers) { return servers.empty() || servers == "disabled"; }

void ReviewServerWords(std::string_view key, std::string_view side, const std::string& servers,
                       Reviewer* reviewer) {
  if (IsSwitchedOff(servers)) return;
  for (int i = 1; i <= AccountCount(servers); ++i) {
    if (!AccountWord(servers, i, Fallback::kNone).empty()) continue;
    reviewer->Say(std::string(key) + " word " + std::to_string(i) +
                  " is empty (two blanks in a row), " + std::string(side) + " " +
                  std::to_string(i) + " not served");
  }
}

template <typename Select>
int ServedAccounts(const std::string& servers, Select select) {
  if (IsSwitchedOff(servers)) return 0;
  int served = 0;
  for (int i = 1; i <= AccountCount(servers); ++i) {
    if (!AccountWord(servers, i, Fallback::kNone).empty() && select(i).problem.empty()) ++served;
  }
  return served;
}

}  // namespace

ConfigReview ReviewConfiguration(std::string_view text, bool box_mode, const Config& config) {
  Reviewer reviewer(box_mode);
  ReviewLines(text, &reviewer);
  ReviewNumbers(config, &reviewer);
  ReviewServerWords("Pop3Server", "POP3 account", config.Pop3Server, &reviewer);
  ReviewServerWords("SmtpServer", "SMTP server", config.SmtpServer, &reviewer);
  return reviewer.Finish();
}

std::string_view NearestKey(std::string_view name) {
  const std::string upper = UpperCase(name);
  std::string_view nearest;
  std::size_t best = kMaxSlips + 1;
  for (const ConfigKey& key : ConfigurationKeys()) {
    std::size_t length_gap = key.name.size() > upper.size() ? key.name.size() - upper.size()
                                                            : upper.size() - key.name.size();
    if (length_gap > kMaxSlips) continue;
    std::size_t slips = Slips(upper, UpperCase(key.name));
    if (slips < best) {
      best = slips;
      nearest = key.name;
    }
  }
  return nearest;
}

int ServedPop3Accounts(const Config& config) {
  return ServedAccounts(config.Pop3Server,
                        [&config](int i) { return SelectPop3Account(config, i).tls; });
}

int ServedSmtpServers(const Config& config) {
  return ServedAccounts(config.SmtpServer,
                        [&config](int i) { return SelectSmtpAccount(config, i).Tls; });
}

}  // namespace postil
