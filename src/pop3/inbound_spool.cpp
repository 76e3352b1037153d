#include "pop3/inbound_spool.h"

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

// The number of a name "M" + four digits + extension (or its temporary
// name), without regard to case; -1 for any other name.
int SpoolNumber(std::string_view name, std::string_view upper_extension) {
  if (name.size() < 5 + upper_extension.size() || (name[0] != 'M' && name[0] != 'm')) return -1;
  std::string upper = UpperCase(name);
  std::string_view rest = upper;
  int number = 0;
  for (char c : rest.substr(1, 4)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    number = number * 10 + (c - '0');
  }
  rest.remove_prefix(5);
  if (rest.substr(0, upper_extension.size()) != upper_extension) return -1;
  rest.remove_prefix(upper_extension.size());
  return rest.empty() || rest == UpperCase(kTempSuffix) ? number : -1;
}

// One read of the directory: every name there counts, in any letter case,
// and so does a name being written (its temporary name). A name looked up
// one by one would cost a directory read each, since names are matched
// without regard to case.
int LowestFreeNumber(std::string_view spool_dir, std::string_view extension) {
  std::bitset<kSpoolNameCount> taken;
  std::string upper_extension = UpperCase(extension);
  for (const std::string& name : platform::ListNames(spool_dir)) {
    int number = SpoolNumber(name, upper_extension);
    if (number >= 0) taken.set(static_cast<std::size_t>(number));
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
                                         std::string_view extension, int thread) {
  std::lock_guard lock(state.StateMutex);
  int number = LowestFreeNumber(spool_dir, extension);
  if (number < 0) {
    // Every name taken: the last one is reported and nothing is overwritten.
    state.log.WriteLog("Error Spoolfile: " + SpoolName(spool_dir, kSpoolNameCount - 1, extension),
                       thread, 2);
    return std::nullopt;
  }
  std::string name = SpoolName(spool_dir, number, extension);
  state.log.WriteLog("Creating Spoolfile: " + name, thread, 255);
  platform::DurableFile file;
  if (file.Create(name, SpoolTempName(name), nullptr)) return SpoolFile(std::move(file), name);
  state.log.WriteLog("Error Spoolfile: " + name, thread, 2);
  return std::nullopt;
}

}  // namespace postil
