#include "smtp/spool_line_reader.h"

#include <algorithm>

#include "core/run_state.h"

namespace postil {
namespace {

std::string WithoutCr(std::string_view bytes) {
  std::string line;
  line.reserve(bytes.size());
  for (std::size_t cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r')) {
    line.append(bytes.substr(0, cr));
    bytes.remove_prefix(cr + 1);
  }
  line.append(bytes);
  return line;
}

}  // namespace

void SpoolLineSplitter::Reset() {
  buffer_.clear();
  begin_ = 0;
  searched_ = 0;
}

void SpoolLineSplitter::Feed(std::string_view block) {
  // Handed-out bytes are dropped before the buffer grows, so it holds at
  // most one partial line and one block.
  if (begin_ > 0) {
    buffer_.erase(0, begin_);
    begin_ = 0;
  }
  buffer_.append(block);
}

bool SpoolLineSplitter::NextLine(std::string* line) {
  std::size_t lf = buffer_.find('\n', begin_ + searched_);
  if (lf == std::string::npos) {
    searched_ = buffer_.size() - begin_;
    return false;
  }
  *line = WithoutCr(std::string_view(buffer_).substr(begin_, lf - begin_));
  begin_ = lf + 1;
  searched_ = 0;
  return true;
}

bool SpoolLineSplitter::TakeRest(std::string* line) {
  if (Empty()) return false;
  *line = WithoutCr(std::string_view(buffer_).substr(begin_));
  Reset();
  return true;
}

SpoolLineReader::SpoolLineReader(Logger log, platform::InputFile& file, std::uint64_t length)
    : log_(log), file_(file), length_(length), remaining_(length) {}

bool SpoolLineReader::Restart() {
  remaining_ = length_;
  splitter_.Reset();
  line_counter_ = 0;
  end_flag_ = false;
  failed_ = false;
  return file_.Rewind();
}

std::string SpoolLineReader::ReadSpoolLine() {
  std::string line;
  if (end_flag_) return line;
  for (;;) {
    if (splitter_.NextLine(&line)) break;
    if (splitter_.PendingBytes() > SpoolLineSplitter::kMaxLineBytes) return Fail();
    if (remaining_ == 0) {
      // A last line without LF is still a line.
      bool rest = splitter_.TakeRest(&line);
      end_flag_ = true;
      if (rest) ++line_counter_;
      return line;
    }
    if (!ReadBlock()) return Fail();
  }
  ++line_counter_;
  if (remaining_ == 0 && splitter_.Empty()) end_flag_ = true;
  return line;
}

bool SpoolLineReader::ReadBlock() {
  char block[kBlockBytes];
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, remaining_));
  std::int64_t got = file_.Read(block, want);
  if (got <= 0) return false;  // an error, or the file shrank under us
  remaining_ -= static_cast<std::uint64_t>(got);
  splitter_.Feed(std::string_view(block, static_cast<std::size_t>(got)));
  return true;
}

std::string SpoolLineReader::Fail() {
  end_flag_ = true;
  failed_ = true;
  splitter_.Reset();
  log_.Write(LogLevel::kDataError, "Error: parsing Spoolfile");
  return {};
}

}  // namespace postil
