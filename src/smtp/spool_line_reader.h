// Reading an outgoing spool file as lines: LF ends a line, every CR is
// dropped, the file is read in blocks of 4,096 bytes. Owned by the SMTP
// worker, one file at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "platform/files.h"

namespace postil {

// Splits bytes fed in blocks into lines. Pure; the reader below feeds it.
class SpoolLineSplitter {
 public:
  // A line longer than this cannot be held: the reader reports a parse
  // error instead of growing without bound. SMTP allows 1,000 bytes per
  // line; this leaves room for the longest lines seen in real spool files.
  static constexpr std::size_t kMaxLineBytes = 1 << 20;

  void Reset();
  void Feed(std::string_view block);
  // The next LF-terminated line (without LF and CRs); false when the bytes
  // held contain no LF yet.
  bool NextLine(std::string* line);
  // The bytes held after the last LF, as a line without CRs; false when none.
  bool TakeRest(std::string* line);
  bool Empty() const { return begin_ == buffer_.size(); }
  // Bytes held that contain no LF.
  std::size_t PendingBytes() const { return buffer_.size() - begin_; }

 private:
  std::string buffer_;
  std::size_t begin_ = 0;       // bytes before begin_ were handed out
  std::size_t searched_ = 0;    // bytes from begin_ known to hold no LF
};

// ReadSpoolLine over an open file of known length.
class SpoolLineReader {
 public:
  static constexpr std::size_t kBlockBytes = 4096;

  SpoolLineReader(Logger log, platform::InputFile& file, std::uint64_t length);

  // Sets the read position back to the start of the file; the line counter
  // and the end flag start again.
  bool Restart();
  // The next line. The end flag is set in the call that returns the last
  // line (a last line without LF included) or, after it, in a call that
  // returns the empty text. A read error or an over-long line logs
  // "Error: parsing Spoolfile", sets the end flag and Failed().
  std::string ReadSpoolLine();

  bool AtEnd() const { return end_flag_; }
  // True when the file could not be read to its end.
  bool Failed() const { return failed_; }
  std::uint32_t LineCounter() const { return line_counter_; }
  // Bytes of the file before the next line to be returned: where the rest
  // of the file begins.
  std::uint64_t Offset() const { return length_ - remaining_ - splitter_.PendingBytes(); }

 private:
  bool ReadBlock();
  std::string Fail();

  const Logger log_;
  platform::InputFile& file_;
  std::uint64_t length_;
  std::uint64_t remaining_;
  SpoolLineSplitter splitter_;
  std::uint32_t line_counter_ = 0;
  bool end_flag_ = false;
  bool failed_ = false;
};

}  // namespace postil
