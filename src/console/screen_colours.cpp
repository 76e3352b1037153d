#include "console/screen_colours.h"

#include <algorithm>
#include <charconv>
#include <mutex>

#include "core/run_state.h"
#include "platform/files.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kDefaultColourText = "$70 $7F $7E";
constexpr std::string_view kMailerKey = "MAILER";
constexpr std::size_t kColourTextAt = 7;  // position 8, 0-based
constexpr std::size_t kColourTextLength = 11;
// Only the start of a line matters, so no more of a line is kept however
// long the file's lines are.
constexpr std::size_t kKeptLineBytes = kColourTextAt + kColourTextLength + 1;
constexpr std::size_t kReadChunk = 4096;

std::optional<int> ColourValue(std::string_view word) {
  int base = 10;
  if (!word.empty() && word.front() == '$') {
    base = 16;
    word.remove_prefix(1);
  }
  int value = 0;
  auto result = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (result.ptr == word.data()) return std::nullopt;
  return value & 0xFF;
}

// Calls `on_line` with the first kKeptLineBytes of each line (CR LF or LF)
// of an open file; false on a read error.
template <typename OnLine>
bool ForEachLineStart(platform::InputFile& file, OnLine on_line) {
  std::string line;
  bool pending = false;
  char buffer[kReadChunk];
  for (;;) {
    std::int64_t n = file.Read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) break;
    for (std::int64_t i = 0; i < n; ++i) {
      char c = buffer[i];
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        on_line(line);
        line.clear();
        pending = false;
      } else {
        pending = true;
        if (line.size() < kKeptLineBytes) line += c;
      }
    }
  }
  if (pending) on_line(line);
  return true;
}

}  // namespace

ScreenColours ParseColourText(std::string_view text) {
  ScreenColours colours;
  int* targets[] = {&colours.frame, &colours.value, &colours.title};
  std::size_t at = 0;
  for (int* target : targets) {
    at = text.find_first_not_of(' ', at);
    if (at == std::string_view::npos) break;
    std::size_t end = std::min(text.find(' ', at), text.size());
    if (std::optional<int> value = ColourValue(text.substr(at, end - at))) *target = *value;
    at = end;
  }
  return colours;
}

std::optional<std::string> MailerColourText(std::string_view line) {
  if (UpperCase(line.substr(0, kMailerKey.size())) != kMailerKey) return std::nullopt;
  if (line.size() <= kColourTextAt) return std::string();
  return std::string(line.substr(kColourTextAt, kColourTextLength));
}

ScreenColours LoadScreenColours(RunState& state) {
  const std::string path = platform::GetEnvironment("QV") + "\\QUORVX.COL";
  if (!platform::FileExists(path)) return ParseColourText(kDefaultColourText);
  state.log.For(LogThread::kScreen).Write(LogLevel::kTrace, "Using Quorvex Mailer Colors ");
  platform::InputFile file;
  bool opened;
  {
    std::lock_guard lock(state.StateMutex);
    opened = file.Open(path, nullptr);
  }
  std::string text(kDefaultColourText);
  bool read = opened && ForEachLineStart(file, [&](const std::string& line) {
                if (std::optional<std::string> found = MailerColourText(line)) text = *found;
              });
  if (!read) {
    state.log.For(LogThread::kMain).Write(LogLevel::kFailure, "Error Reading QUORVX.COL");
    return ParseColourText(kDefaultColourText);
  }
  return ParseColourText(text);
}

}  // namespace postil
