#include "pop3/pop3_reply.h"

#include "config/accounts.h"
#include "config/lookup_setting.h"
#include "text/date_address.h"

namespace postil {
namespace {

// The tree marks of code page 437 that start each continuation line.
constexpr char kBranchMark = '\xC3';
constexpr char kCornerMark = '\xC0';

std::int64_t WordValue(std::string_view reply, int word, std::int64_t max) {
  return RangedValue(AccountWord(reply, word, Fallback::kNone), 0, max, 0);
}

void AppendContinuation(std::string* block, char mark, std::string_view label,
                        std::string_view value) {
  *block += "\n\t\t\t";
  *block += mark;
  *block += label;
  *block += value;
}

}  // namespace

bool IsOkReply(std::string_view reply) { return reply.substr(0, 3) == "+OK"; }

std::optional<MailboxStatus> ParseStatReply(std::string_view reply) {
  const auto too_large = [reply](int word, std::int64_t max) {
    return NumericValue(AccountWord(reply, word, Fallback::kNone)) > static_cast<double>(max);
  };
  if (too_large(2, kMaxMessageCount) || too_large(3, kMaxStatedSize)) return std::nullopt;
  return MailboxStatus{WordValue(reply, 2, kMaxMessageCount), WordValue(reply, 3, kMaxStatedSize)};
}

std::int64_t ParseTopSize(std::string_view reply) { return WordValue(reply, 2, kMaxStatedSize); }

std::string Str(std::int64_t value) {
  return value >= 0 ? " " + std::to_string(value) : std::to_string(value);
}

std::string MailboxStatusText(const MailboxStatus& status) {
  return std::to_string(status.count) + " Messages with" + Str(status.size) + " (Bytes)";
}

std::string DetailBlock(std::string_view from, std::string_view subject) {
  std::string block;
  AppendContinuation(&block, kBranchMark, " from: ", FormatNameAddr(std::string(from)));
  AppendContinuation(&block, kCornerMark, " Subject: ", subject);
  return block;
}

std::string DetailBlock(std::string_view from, std::string_view subject, std::string_view reason) {
  std::string block;
  AppendContinuation(&block, kBranchMark, " from: ", FormatNameAddr(std::string(from)));
  AppendContinuation(&block, kBranchMark, " Subject: ", subject);
  AppendContinuation(&block, kCornerMark, " Reason: ", reason);
  return block;
}

}  // namespace postil
