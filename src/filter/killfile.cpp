#include "filter/killfile.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/data_file.h"
#include "filter/parsed_rule.h"
#include "core/run_state.h"
#include "platform/files.h"
#include "text/cp437_case.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

constexpr std::string_view kSectionStart = "---";
constexpr std::string_view kOptionLineStart = "+++";
constexpr char kCommentMark = '\xFE';
constexpr std::string_view kCommentLineStarts[] = {"'", "\xFE\xFE\xFE", "\xEA\xEA\xEA"};

bool IsCommentStart(std::string_view text) {
  for (std::string_view start : kCommentLineStarts) {
    if (text.starts_with(start)) return true;
  }
  return false;
}

// One 0xFE starts a comment at the end of a line; a line that begins with
// three of them is a comment as a whole and keeps them.
std::string_view CutTrailingComment(std::string_view line) {
  if (line.starts_with("\xFE\xFE\xFE")) return line;
  return line.substr(0, line.find(kCommentMark));
}

enum class ReadStatus { kLine, kEnd, kLineTooLong, kFileTooLarge, kFailed };

// The killfile's lines, streamed: LF ends a line, a CR before it is dropped,
// and a last line without a line end still counts.
class KillfileLines {
 public:
  explicit KillfileLines(platform::InputFile* file) : file_(file), buffer_(kReadChunk) {}

  ReadStatus Next(std::string* line) {
    line->clear();
    bool any = false;
    for (;;) {
      if (pos_ == end_) {
        std::int64_t count = file_->Read(buffer_.data(), buffer_.size());
        if (count < 0) return ReadStatus::kFailed;
        if (count == 0) {
          if (!any) return ReadStatus::kEnd;
          break;
        }
        bytes_ += static_cast<std::size_t>(count);
        if (bytes_ > kMaxKillfileBytes) return ReadStatus::kFileTooLarge;
        pos_ = 0;
        end_ = static_cast<std::size_t>(count);
      }
      any = true;
      const char* begin = buffer_.data() + pos_;
      const void* lf = std::memchr(begin, '\n', end_ - pos_);
      std::size_t piece = lf != nullptr ? static_cast<const char*>(lf) - begin : end_ - pos_;
      if (line->size() + piece > kMaxKillfileLine) return ReadStatus::kLineTooLong;
      line->append(begin, piece);
      pos_ += piece;
      if (lf != nullptr) {
        ++pos_;
        break;
      }
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    ++line_number_;
    return ReadStatus::kLine;
  }

  bool Rewind() {
    pos_ = end_ = bytes_ = line_number_ = 0;
    return file_->Rewind();
  }

  std::size_t line_number() const { return line_number_; }

 private:
  platform::InputFile* file_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::size_t bytes_ = 0;
  std::size_t line_number_ = 0;
};

template <typename OnLine>
ReadStatus ReadAllLines(KillfileLines* lines, OnLine on_line) {
  std::string line;
  ReadStatus status;
  while ((status = lines->Next(&line)) == ReadStatus::kLine) on_line(line);
  return status;
}

void LogReadFailure(Logger log, ReadStatus status, std::string_view path, std::size_t line_number) {
  std::string text;
  switch (status) {
    case ReadStatus::kLineTooLong:
      text = "Killfile line " + std::to_string(line_number + 1) + " longer than " +
             std::to_string(kMaxKillfileLine) + " bytes: ";
      break;
    case ReadStatus::kFileTooLarge:
      text = "Killfile larger than " + std::to_string(kMaxKillfileBytes) + " bytes: ";
      break;
    default:
      text = "Error Reading ";
      break;
  }
  log.Write(LogLevel::kFailure, text + std::string(path));
}

// The sizing pass counts the sections, so the reading pass can size the
// table and a file without sections is done with at once. Every section
// and rule is kept, however many there are.
bool ReadKillfile(Logger log, std::string_view path, platform::InputFile* file, RuleTable* rules) {
  KillfileLines lines(file);
  std::size_t sections = 0;
  ReadStatus status = ReadAllLines(&lines, [&](std::string_view line) {
    if (line.starts_with(kSectionStart)) ++sections;
  });
  if (status == ReadStatus::kEnd && sections > 0) {
    status = lines.Rewind() ? ReadStatus::kEnd : ReadStatus::kFailed;
    if (status == ReadStatus::kEnd) {
      rules->sections.reserve(sections);
      status = ReadAllLines(&lines, [&](std::string_view line) { AddKillfileLine(line, rules); });
    }
  }
  if (status == ReadStatus::kEnd) return true;
  LogReadFailure(log, status, path, lines.line_number());
  return false;
}

}  // namespace

void AddKillfileLine(std::string_view line, RuleTable* rules) {
  line = CutTrailingComment(line);
  if (line.starts_with(kSectionStart)) {
    rules->sections.push_back({UpperCase(TrimBlanks(line.substr(kSectionStart.size()))), {}, {}});
    return;
  }
  if (line.starts_with(kOptionLineStart) || rules->sections.empty()) return;
  std::string_view rule = TrimBlanks(line);
  if (rule.empty() || IsCommentStart(rule)) return;
  KillSection& section = rules->sections.back();
  std::string& stored = section.rules.emplace_back(rule);
  stored += ' ';
  section.parsed.push_back(ParseRuleCondition(SplitRuleLine(stored).condition));
}

bool LoadKillfile(RunState& state, std::string_view path, RuleTable* rules) {
  *rules = RuleTable{};
  if (!platform::FileExists(path)) return false;
  const Logger log = state.log.For(LogThread::kMain);
  platform::InputFile file;
  if (!OpenDataFile(state, &file, path, log)) return false;
  try {
    if (ReadKillfile(log, path, &file, rules)) return true;
  } catch (const std::bad_alloc&) {
    LogReadFailure(log, ReadStatus::kFailed, path, 0);
  }
  *rules = RuleTable{};
  return false;
}

}  // namespace postil
