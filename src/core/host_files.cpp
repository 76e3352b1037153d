#include "core/host_files.h"

#include <optional>
#include <string>

#include "core/data_file.h"
#include "config/lookup_setting.h"
#include "core/run_state.h"

namespace postil {
namespace {

// Reads up to `max_bytes` from the start of a host file, opened under the
// state mutex; nothing when it does not exist or cannot be read.
std::string ReadHostFile(RunState& state, std::string_view name, std::size_t max_bytes) {
  if (!platform::FileExists(name)) return {};
  platform::InputFile file;
  if (!OpenDataFile(state, &file, name, state.log.For(LogThread::kMain))) return {};
  // A read error keeps what was read before it.
  std::string bytes;
  file.ReadUpTo(max_bytes, &bytes);
  return bytes;
}

}  // namespace

double DialerOnlineSince(RunState& state) {
  double now = state.clock.Now().SecondsSinceMidnight();
  std::optional<double> stamp = LeadingNumber(ReadHostFile(state, "ZDial.Dat", 9));
  return stamp.value_or(now);
}

std::optional<std::string> HostLogDirectory() {
  constexpr std::size_t kHostConfigBytes = 16024;
  if (!platform::FileExists("QUORVX.CFG")) return std::nullopt;
  std::string text = platform::ReadFilePrefix("QUORVX.CFG", kHostConfigBytes).value_or("") + "\r\n";
  return LookupSetting(text, "$LOGDIR=", "", true);
}

int DetectHostRelease(RunState& state) {
  constexpr std::size_t kScannedBytes = 128000;
  std::string bytes = ReadHostFile(state, "QV.EXE", kScannedBytes);
  std::size_t at = bytes.find("QV2");
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace postil
