#include "core/inbound_spool.h"

#include <bitset>
#include <cctype>
#include <cstdio>
#include <mutex>

#include "core/run_state.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kTempSuffix = ".tmp";

std::string SpoolName(std::string_view spool_dir, int number, std::string_view extension) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", number);
  return std::string(spool_dir) + "M" + digits + std::string(extension);
}

struct SpoolEntry {
  int number;
  bool temporary;  // the temporary name of a file being written
};

// The number of a name "M" + four digits + extension (or its temporary
// name), without regard to case; nothing for any other name.
std::optional<SpoolEntry> ParseSpoolName(std::string_view name, std::string_view upper_extension) {
  if (name.size() < 5 + upper_extension.size() || (name[0] != 'M' && name[0] != 'm')) return {};
  std::string upper = UpperCase(name);
  std::string_view rest = upper;
  int number = 0;
  for (char c : rest.substr(1, 4)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
    number = number * 10 + (c - '0');
  }
  rest.remove_prefix(5);
  if (rest.substr(0, upper_extension.size()) != upper_extension) return {};
  rest.remove_prefix(upper_extension.size());
  if (rest.empty()) return SpoolEntry{number, false};
  if (rest == UpperCase(kTempSuffix)) return SpoolEntry{number, true};
  return {};
}

// A temporary file that no process writes any more was left by a run that
// died while writing it: nothing would ever remove it, and its number would
// stay taken for good.
bool RemoveAbandonedSpool(const std::string& path, Logger log) {
  if (!platform::RemoveAbandonedFile(path)) return false;
  log.Write(LogLevel::kProgress, "Removing stale Spoolfile: " + path);
  return true;
}

// One read of the directory: every name there counts, in any letter case,
// and so does a name being written (its temporary name). A name looked up
// one by one would cost a directory read each, since names are matched
// without regard to case. Called under the state mutex, which every writer
// of this program holds while it creates its temporary file.
int LowestFreeNumber(std::string_view spool_dir, std::string_view extension, Logger log) {
  std::bitset<kSpoolNameCount> taken;
  std::string upper_extension = UpperCase(extension);
  for (const std::string& name : platform::ListNames(spool_dir)) {
    std::optional<SpoolEntry> entry = ParseSpoolName(name, upper_extension);
    if (!entry) continue;
    if (entry->temporary && RemoveAbandonedSpool(std::string(spool_dir) + name, log)) continue;
    taken.set(static_cast<std::size_t>(entry->number));
  }
  for (int number = 0; number < kSpoolNameCount; ++number) {
    if (!taken.test(static_cast<std::size_t>(number))) return number;
  }
  return -1;
}

}  // namespace

std::string SpoolTempName(std::string_view final_name) {
  return std::string(final_name) + std::string(kTempSuffix);
}

std::optional<SpoolFile> CreateSpoolFile(RunState& state, std::string_view spool_dir,
                                         std::string_view extension, Logger log) {
  std::lock_guard lock(state.StateMutex);
  int number = LowestFreeNumber(spool_dir, extension, log);
  if (number < 0) {
    // Every name taken: the last one is reported and nothing is overwritten.
    log.Write(LogLevel::kFailure,
              "Error Spoolfile: " + SpoolName(spool_dir, kSpoolNameCount - 1, extension));
    return std::nullopt;
  }
  std::string name = SpoolName(spool_dir, number, extension);
  log.Write(LogLevel::kTrace, "Creating Spoolfile: " + name);
  platform::DurableFile file;
  if (file.CreateNew(name, SpoolTempName(name), nullptr)) return SpoolFile(std::move(file), name);
  log.Write(LogLevel::kFailure, "Error Spoolfile: " + name);
  return std::nullopt;
}

}  // namespace postil
