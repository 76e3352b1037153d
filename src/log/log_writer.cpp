#include "log/log_writer.h"

#include <array>
#include <optional>
#include <utility>

#include "text/cp437_case.h"
#include "text/date_address.h"
#include "text/text_helpers.h"

namespace postil {
namespace {

struct LevelMark {
  LogLevel level;
  std::string_view mark;
  bool always_written;
};

constexpr std::array<LevelMark, kLogLevels.size()> kLevelMarks = {{
    {LogLevel::kProgress, "  ", true},
    {LogLevel::kDataError, "! ", true},
    {LogLevel::kFailure, "? ", true},
    {LogLevel::kUnused3, "$ ", true},
    {LogLevel::kSpoolDetail, "* ", false},
    {LogLevel::kUnused5, ": ", true},
    {LogLevel::kSetUp, "+ ", true},
    {LogLevel::kMessageAction, "- ", true},
    {LogLevel::kStatistics, "% ", true},
    {LogLevel::kDialogueStart, "~ ", true},
    {LogLevel::kConnection, "= ", true},
    {LogLevel::kTrace, "  ", false},
}};

constexpr bool MarksFollowLevels() {
  for (std::size_t i = 0; i < kLevelMarks.size(); ++i) {
    if (kLevelMarks[i].level != kLogLevels[i]) return false;
  }
  return true;
}
static_assert(MarksFollowLevels(), "one mark row per LogLevel, in the order of kLogLevels");

const LevelMark* FindLevel(LogLevel level) {
  for (const LevelMark& entry : kLevelMarks) {
    if (entry.level == level) return &entry;
  }
  return nullptr;
}

// Server text (greetings, replies, header values) may hold any byte and
// reaches the log inside these texts; a control byte in it would act on the
// terminal that shows the log. Our own continuation lines (LF TAB) keep
// their form.
void AppendShown(std::string* line, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    bool continuation = byte == '\n' && i + 1 < text.size() && text[i + 1] == '\t';
    if (!IsControlByte(byte) || byte == '\t' || continuation) {
      *line += text[i];
    } else {
      *line += '^';
      *line += static_cast<char>(byte ^ 0x40);
    }
  }
}

}  // namespace

void Log::SetupLog(const std::optional<std::string>& host_log_dir, std::ostream& notices) {
  notices_ = &notices;
  std::string base_name = Without(program_name_, ' ');
  if (host_log_dir) Open(&host_log_, *host_log_dir + "QV-PPP.LOG");
  Open(&main_log_, host_log_dir.value_or("") + "QUIL.LOG");

  std::string header = "----------  " + LogDateStamp() + ", QUIL " + std::string(version_);
  AppendToBoth(header);

  if (platform::FileExists(base_name + ".DEB")) {
    debug_mode_ = true;
    WriteLog("Debug-Mode activated", LogThread::kMain, LogLevel::kTrace);
  }
}

std::string Log::LogDateStamp() const {
  platform::LocalTime now = clock_.Now();
  std::string day = TwoDigits(now.day);
  std::string month = TwoDigits(now.month);
  if (UpperCase(platform::GetEnvironment("QUILLOG")) == "QV")
    return day + "." + month + "." + std::to_string(now.year);
  return std::string(kWeekdayAbbrevs[static_cast<std::size_t>(now.weekday) % 7]) + " " + day + " " +
         std::string(kMonthAbbrevs[static_cast<std::size_t>(now.month - 1) % 12]) + " " +
         TwoDigits(now.year);
}

std::string Log::FormatLine(std::string_view text, LogThread thread, LogLevel level) const {
  const LevelMark* entry = FindLevel(level);
  bool visible = debug_mode_ || (entry != nullptr && entry->always_written);
  if (!visible) return {};
  platform::LocalTime now = clock_.Now();
  std::string line(entry != nullptr ? entry->mark : std::string_view());
  line += ClockText(now.hour, now.minute, now.second);
  line += "  ";
  line += program_name_;
  const int number = static_cast<int>(thread);
  line += number < 0 ? std::string("  ") : "#" + std::to_string(number);
  line += ": ";
  AppendShown(&line, text);
  return line;
}

void Log::WriteLog(std::string_view text, LogThread thread, LogLevel level) {
  std::string line = FormatLine(text, thread, level);
  if (!line.empty()) AppendToBoth(line);
}

void Log::Open(LogFile* log, std::string path) {
  log->path = std::move(path);
  std::string err;
  if (!log->file.Open(log->path, &err)) SayFailure(log, err);
}

void Log::Append(LogFile* log, std::string_view bytes) {
  if (!log->file.IsOpen() || log->file.Append(bytes)) return;
  std::string cause = platform::LastErrorText();
  SayFailure(log, log->path + ": " + cause);
}

// Once per file: a full disk fails every line after it, and the run goes on
// either way.
void Log::SayFailure(LogFile* log, std::string_view cause) {
  if (log->failure_said || notices_ == nullptr) return;
  log->failure_said = true;
  *notices_ << "Error: cannot write to logfile " << cause << "\n" << std::flush;
}

void Log::AppendToBoth(std::string_view line) {
  std::string whole(line);
  whole += "\r\n";
  std::lock_guard lock(append_mutex_);
  Append(&main_log_, whole);
  Append(&host_log_, whole);
}

void Log::CloseLogs() {
  std::lock_guard lock(append_mutex_);
  main_log_.file.Close();
  host_log_.file.Close();
}

}  // namespace postil
