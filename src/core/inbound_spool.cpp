#include "core/inbound_spool.h"

#include <cctype>
#include <cstdio>
#include <mutex>
#include <vector>

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

std::string_view BareName(std::string_view name) {
  std::size_t separator = name.find_last_of("\\/");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
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

bool RemoveAbandonedSpool(const std::string& path, Logger log) {
  if (!platform::RemoveAbandonedFile(path)) return false;
  log.Write(LogLevel::kProgress, "Removing stale Spoolfile: " + path);
  return true;
}

// The lowest free name of `numbers`, created by `create` (which returns
// what creating the final and temporary name came to); a name found taken
// is noted and the next one tried. Under the state mutex.
template <typename CreateFn>
std::optional<SpoolFile> CreateLowestFree(SpoolNumbers& numbers, std::string_view spool_dir,
                                          std::string_view extension, Logger log, CreateFn create) {
  for (;;) {
    const int number = numbers.LowestFree();
    if (number < 0) {
      // Every name taken: the last one is reported and nothing is overwritten.
      log.Write(LogLevel::kFailure,
                "Error Spoolfile: " + SpoolName(spool_dir, kSpoolNameCount - 1, extension));
      return std::nullopt;
    }
    std::string name = SpoolName(spool_dir, number, extension);
    platform::DurableFile file;
    const platform::CreateResult result = create(name, &file);
    if (result == platform::CreateResult::kCreated) {
      log.Write(LogLevel::kTrace, "Creating Spoolfile: " + name);
      numbers.Take(number);
      return SpoolFile(std::move(file), std::move(name));
    }
    if (result == platform::CreateResult::kFailed) {
      log.Write(LogLevel::kTrace, "Creating Spoolfile: " + name);
      log.Write(LogLevel::kFailure, "Error Spoolfile: " + name);
      return std::nullopt;
    }
    numbers.Take(number);
  }
}

}  // namespace

SpoolNumbers::SpoolNumbers(std::string_view spool_dir, std::string_view extension, Logger log) {
  // One read of the directory: a name looked up one by one would cost a
  // directory read each, since names are matched without regard to case.
  std::string upper_extension = UpperCase(extension);
  for (const std::string& name : platform::ListNames(spool_dir)) {
    std::optional<SpoolEntry> entry = ParseSpoolName(name, upper_extension);
    if (!entry) continue;
    if (entry->temporary && RemoveAbandonedSpool(std::string(spool_dir) + name, log)) continue;
    Take(entry->number);
  }
}

int SpoolNumbers::LowestFree() const {
  for (int number = 0; number < kSpoolNameCount; ++number) {
    if (!taken_.test(static_cast<std::size_t>(number))) return number;
  }
  return -1;
}

std::string SpoolTempName(std::string_view final_name) {
  return std::string(final_name) + std::string(kTempSuffix);
}

std::optional<SpoolFile> CreateSpoolFile(RunState& state, std::string_view spool_dir,
                                         std::string_view extension, Logger log) {
  std::lock_guard lock(state.StateMutex);
  SpoolNumbers numbers(spool_dir, extension, log);
  return CreateLowestFree(numbers, spool_dir, extension, log,
                          [](const std::string& name, platform::DurableFile* file) {
                            return file->CreateNew(name, SpoolTempName(name), nullptr);
                          });
}

SpoolSession::SpoolSession(RunState& state, std::string spool_dir, std::string extension,
                           platform::DiskSync& disk, Logger log)
    : state_(state),
      spool_dir_(std::move(spool_dir)),
      extension_(std::move(extension)),
      log_(log),
      sync_(spool_dir_, disk) {}

std::optional<SpoolFile> SpoolSession::Create() {
  std::lock_guard lock(state_.StateMutex);
  if (!numbers_) numbers_.emplace(spool_dir_, extension_, log_);
  std::optional<SpoolFile> file =
      CreateLowestFree(*numbers_, spool_dir_, extension_, log_,
                       [this](const std::string& name, platform::DurableFile* file) {
                         const std::string_view bare = BareName(name);
                         return sync_.CreateNew(bare, SpoolTempName(bare), file, nullptr);
                       });
  failed_ = failed_ || !file;
  return file;
}

bool SpoolSession::Hold(SpoolFile file) {
  if (sync_.Hold(std::move(file.file_), nullptr)) return true;
  log_.Write(LogLevel::kFailure, "Error Spoolfile: " + file.name_);
  failed_ = true;
  return false;
}

bool SpoolSession::Commit() {
  std::vector<std::string> left_named;
  if (sync_.Sync(&left_named, nullptr)) return true;
  log_.Write(LogLevel::kFailure, "Error Spoolfile: " + spool_dir_);
  for (const std::string& path : left_named)
    log_.Write(LogLevel::kFailure,
               std::string(kSpoolLeftText) + spool_dir_ + std::string(BareName(path)));
  return false;
}

}  // namespace postil
