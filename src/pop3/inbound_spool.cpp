#include "pop3/inbound_spool.h"

#include <cstdio>
#include <mutex>

#include "core/run_state.h"

namespace postil {
namespace {

std::string SpoolName(std::string_view spool_dir, int number, std::string_view extension) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", number);
  return std::string(spool_dir) + "M" + digits + std::string(extension);
}

bool NameTaken(const std::string& path) {
  return platform::FileExists(path) || platform::DirectoryExists(path);
}

}  // namespace

std::string SpoolTempName(std::string_view final_name) { return std::string(final_name) + ".tmp"; }

std::optional<SpoolFile> CreateSpoolFile(RunState& state, std::string_view spool_dir,
                                         std::string_view extension, int thread) {
  std::lock_guard lock(state.StateMutex);
  std::string name;
  for (int number = 0; number < kSpoolNameCount; ++number) {
    name = SpoolName(spool_dir, number, extension);
    std::string temp = SpoolTempName(name);
    if (NameTaken(name) || NameTaken(temp)) continue;
    state.log.WriteLog("Creating Spoolfile: " + name, thread, 255);
    platform::DurableFile file;
    if (file.Create(name, temp, nullptr)) return SpoolFile(std::move(file), name);
    break;
  }
  // Every name taken: the last one is reported and nothing is overwritten.
  state.log.WriteLog("Error Spoolfile: " + name, thread, 2);
  return std::nullopt;
}

}  // namespace postil
