// libFuzzer target: the numbers of STAT and TOP replies stay within their
// limits, and a plain decimal word is read as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/accounts.h"
#include "pop3/pop3_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  const std::optional<MailboxStatus> parsed = ParseStatReply(reply);
  const MailboxStatus status = parsed.value_or(MailboxStatus{});
  if (status.count < 0 || status.count > kMaxMessageCount) std::abort();
  if (status.size < 0 || status.size > kMaxStatedSize) std::abort();
  std::int64_t top = ParseTopSize(reply);
  if (top < 0 || top > kMaxStatedSize) std::abort();
  std::string word = AccountWord(reply, 2, Fallback::kNone);
  if (parsed && !word.empty() && word.size() <= 9 &&
      word.find_first_not_of("0123456789") == std::string::npos &&
      (status.count != std::stoll(word) || top != status.count))
    std::abort();
  if (IsOkReply(reply) != reply.starts_with("+OK")) std::abort();
  if (MailboxStatusText(status).find(" Messages with ") == std::string::npos) std::abort();
  DetailBlock(reply, reply, reply);
  return 0;
}
