#include "log/log_writer.h"

#include <array>
#include <cstdio>

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

std::string LogDirectory() {
  if (!platform::FileExists("QUORVX.CFG")) return {};
  auto text = platform::ReadFilePrefix("QUORVX.CFG", kHostConfigBytes, nullptr);
  if (!text) return {};
  *text += "\r\n";
  return LookupSetting(*text, "$LOGDIR=", "", true);
}

}  // namespace

void Log::SetupLog() {
  std::string base_name;
  for (char c : ProgramName) {
    if (c != ' ') base_name += c;
  }
  std::string directory = LogDirectory();
  if (!directory.empty()) host_log_.Open(directory + "QV-PPP.LOG", nullptr);
  main_log_.Open(directory + "QUIL.LOG", nullptr);

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
  line += text;
  return line;
}

void Log::WriteLog(std::string_view text, int thread, int level) {
  std::string line = FormatLine(text, thread, level);
  if (!line.empty()) AppendToBoth(line);
}

void Log::AppendToBoth(std::string_view line) {
  std::string whole(line);
  whole += "\r\n";
  std::lock_guard lock(append_mutex_);
  main_log_.Append(whole);
  host_log_.Append(whole);
}

void Log::CloseLogs() {
  std::lock_guard lock(append_mutex_);
  main_log_.Close();
  host_log_.Close();
}

}  // namespace postil
