#include "smtp/spool_remainder.h"

#include <algorithm>
#include <memory>

#include "core/run_state.h"
#include "platform/files.h"
#include "smtp/smtp_session.h"

namespace postil {
namespace {

constexpr std::size_t kCopyBlockBytes = 64 * 1024;

// Never matched by "M????.OUT" or "*.EML", so a half-written copy is never
// taken for a spool file.
constexpr std::string_view kTempSuffix = ".tmp";

// Copies `count` bytes (all that is left when `to_end`) from `in` to `out`,
// or skips them when `out` is null. False on a read or write error, or when
// the file ends early.
bool Copy(platform::InputFile& in, platform::DurableFile* out, std::uint64_t count, bool to_end) {
  auto block = std::make_unique<char[]>(kCopyBlockBytes);
  while (to_end || count > 0) {
    std::size_t want =
        to_end ? kCopyBlockBytes
               : static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBlockBytes, count));
    std::int64_t got = in.Read(block.get(), want);
    if (got < 0) return false;
    if (got == 0) return to_end;
    if (out != nullptr && !out->Write(std::string_view(block.get(), static_cast<std::size_t>(got))))
      return false;
    count -= std::min<std::uint64_t>(count, static_cast<std::uint64_t>(got));
  }
  return true;
}

// Replaces the file through a durable copy in the same directory.
class DiskRewriter final : public SpoolRewriter {
 public:
  bool Rewrite(const std::string& path, std::uint64_t head, std::uint64_t skip,
               std::string* err) override {
    platform::InputFile in;
    if (!in.Open(path, err)) return false;
    const std::string temp = path + std::string(kTempSuffix);
    platform::DurableFile out;
    if (!out.Create(path, temp, err)) return false;
    if (!Copy(in, &out, head, false) || !Copy(in, nullptr, skip, false) ||
        !Copy(in, &out, 0, true)) {
      *err = "the rest of the file could not be copied";
      return false;  // `out` goes without a trace
    }
    return out.Commit(err);
  }
};

}  // namespace

SpoolRewriter& DiskSpoolRewriter() {
  static DiskRewriter rewriter;
  return rewriter;
}

SpoolRemainder::SpoolRemainder(RunState& state, Logger log, std::string path,
                               SpoolRewriter& rewriter)
    : state_(state), log_(log), path_(std::move(path)), rewriter_(rewriter) {}

bool SpoolRemainder::DropDoneBefore(std::uint64_t offset) {
  if (offset <= head_ + dropped_) return true;
  std::string err;
  if (!rewriter_.Rewrite(path_, head_, offset - head_ - dropped_, &err)) {
    log_.Write(LogLevel::kFailure, "Error rewriting Spoolfile");
    log_.Write(LogLevel::kFailure, "No further message sent from " + path_ + " (" + err +
                                       "): the one sent last goes again in the next run");
    state_.SmtpErrorFlag = true;
    return false;
  }
  dropped_ = offset - head_;
  log_.Write(LogLevel::kSpoolDetail, "Sent messages removed from Spoolfile");
  return true;
}

}  // namespace postil
