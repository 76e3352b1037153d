#include "log/log_writer.h"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

#include "config/lookup_setting.h"
#include "core/program_identity.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

// Only the start of QUORVX.CFG is read for LOGDIR.
constexpr std::size_t kHostConfigBytes = 16024;

struct LevelMark {
  int level;
  std::string_view mark;
  bool always_written;
};

constexpr std::array<LevelMark, 12> kLevelMarks = {{
    {0, "  ", true},
    {1, "! ", true},
    {2, "? ", true},
    {3, "$ ", true},
    {4, "* ", false},
    {5, ": ", true},
    {6, "+ ", true},
    {7, "- ", true},
    {8, "% ", true},
    {9, "~ ", true},
    {10, "= ", true},
    {255, "  ", false},
}};

const LevelMark* FindLevel(int level) {
  for (const LevelMark& entry : kLevelMarks) {
    if (entry.level == level) return &entry;
  }
  return nullptr;
}

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

// The log directory from LOGDIR in QUORVX.CFG, or nothing when there is no
// QUORVX.CFG (then there is no host log either). A QUORVX.CFG without
// LOGDIR, or one that cannot be read, gives the empty prefix: the current
// directory.
std::optional<std::string> LogDirectory() {
  if (!platform::FileExists("QUORVX.CFG")) return std::nullopt;
  std::string text =
      platform::ReadFilePrefix("QUORVX.CFG", kHostConfigBytes, nullptr).value_or("") + "\r\n";
  return LookupSetting(text, "$LOGDIR=", "", true);
}

// Server text (greetings, replies, header values) may hold any byte and
// reaches the log inside these texts; a control byte in it would act on the
// terminal that shows the log. Our own continuation lines (LF TAB) keep
// their form.
void AppendShown(std::string* line, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    bool continuation = byte == '\n' && i + 1 < text.size() && text[i + 1] == '\t';
    if ((byte >= 0x20 && byte != 0x7F) || byte == '\t' || continuation) {
      *line += text[i];
    } else {
      *line += '^';
      *line += static_cast<char>(byte ^ 0x40);
    }
  }
}

}  // namespace

void Log::SetupLog(std::ostream& notices) {
  notices_ = &notices;
  std::string base_name;
  for (char c : ProgramName) {
    if (c != ' ') base_name += c;
  }
  std::optional<std::string> directory = LogDirectory();
  if (directory) Open(&host_log_, *directory + "QV-PPP.LOG");
  Open(&main_log_, directory.value_or("") + "QUIL.LOG");

  std::string header = "----------  " + LogDateStamp() + ", QUIL " + std::string(ProgramVersion);
  AppendToBoth(header);

  if (platform::FileExists(base_name + ".DEB")) {
    debug_mode_ = true;
    WriteLog("Debug-Mode activated", kMainThread, 255);
  }
}

std::string Log::LogDateStamp() const {
  static constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                                "Thu", "Fri", "Sat"};
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  platform::LocalTime now = clock_.Now();
  std::string day = TwoDigits(now.day);
  std::string month = TwoDigits(now.month);
  if (UpperCase(platform::GetEnvironment("QUILLOG")) == "QV")
    return day + "." + month + "." + std::to_string(now.year);
  return std::string(kWeekdays[static_cast<std::size_t>(now.weekday) % 7]) + " " + day + " " +
         std::string(kMonths[static_cast<std::size_t>(now.month - 1) % 12]) + " " +
         TwoDigits(now.year);
}

std::string Log::FormatLine(std::string_view text, int thread, int level) const {
  const LevelMark* entry = FindLevel(level);
  bool visible = debug_mode_ || (entry != nullptr && entry->always_written);
  if (!visible) return {};
  platform::LocalTime now = clock_.Now();
  std::string line(entry != nullptr ? entry->mark : std::string_view());
  line += TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second);
  line += "  ";
  line += ProgramName;
  line += thread < 0 ? std::string("  ") : "#" + std::to_string(thread);
  line += ": ";
  AppendShown(&line, text);
  return line;
}

void Log::WriteLog(std::string_view text, int thread, int level) {
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
