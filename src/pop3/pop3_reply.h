// Reading the POP3 server's replies and composing the numbers and texts the
// worker sends, shows and logs. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace postil {

// A reply is a success when it begins with "+OK" (case-sensitive).
bool IsOkReply(std::string_view reply);

// Values taken from a STAT reply; words that are no number or are negative
// give 0. Nothing when a figure is too large to be true (a count past
// kMaxMessageCount, a size past kMaxStatedSize): read as 0, it would end
// the session as if the mailbox were empty.
struct MailboxStatus {
  std::int64_t count = 0;  // at most kMaxMessageCount
  std::int64_t size = 0;   // octets
};
std::optional<MailboxStatus> ParseStatReply(std::string_view reply);

// The size stated in a TOP reply, word 2; 0 when none is stated (or it is
// negative or absurd): the size limit then never applies.
std::int64_t ParseTopSize(std::string_view reply);

// The number as decimal digits, with one leading blank when it is 0 or more.
std::string Str(std::int64_t value);

// "3 Messages with 12345 (Bytes)".
std::string MailboxStatusText(const MailboxStatus& status);

// The continuation lines that carry a message's particulars in log lines:
// from (name-first form) and Subject, and for the filter also the Reason.
std::string DetailBlock(std::string_view from, std::string_view subject);
std::string DetailBlock(std::string_view from, std::string_view subject, std::string_view reason);

// STAT counts are 32-bit on the wire; a larger count is taken as no number.
inline constexpr std::int64_t kMaxMessageCount = 2147483647;
// Sizes beyond this (about 9.2 EB) are absurd and taken as unknown.
inline constexpr std::int64_t kMaxStatedSize = 1LL << 62;

}  // namespace postil
