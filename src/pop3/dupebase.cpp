#include "pop3/dupebase.h"

#include <mutex>

#include "core/run_state.h"
#include "platform/files.h"

namespace postil {
namespace {

constexpr std::string_view kTempFileName = "POSTIL.IDX.tmp";
constexpr std::size_t kReadChunk = 64 * 1024;

std::string_view LastBytes(std::string_view text, std::size_t count) {
  return text.size() > count ? text.substr(text.size() - count) : text;
}

// Reads the file keeping only its first 50 bytes and its last
// kDupebaseTailBytes, so a damaged, huge file costs no memory.
std::string ReadBoundedFile(RunState& state) {
  std::lock_guard lock(state.StateMutex);
  platform::InputFile file;
  if (!file.Open(kDupebaseFileName, nullptr)) return {};
  std::string kept;
  std::string chunk(kReadChunk, '\0');
  constexpr std::size_t kKeep = kDupebaseHeaderBytes + kDupebaseTailBytes;
  for (std::int64_t n; (n = file.Read(chunk.data(), chunk.size())) > 0;) {
    kept.append(chunk.data(), static_cast<std::size_t>(n));
    if (kept.size() > 2 * kKeep) kept.erase(kDupebaseHeaderBytes, kept.size() - kKeep);
  }
  return kept;
}

}  // namespace

std::string DupeDataFromFile(std::string_view file_bytes) {
  if (file_bytes.size() <= kDupebaseHeaderBytes) return {};
  return std::string(LastBytes(file_bytes.substr(kDupebaseHeaderBytes), kDupebaseTailBytes));
}

std::string DupebaseFileBytes(std::string_view dupe_data) {
  return std::string(kDupebaseHeader) + "\r\n" +
         std::string(LastBytes(dupe_data, kDupebaseTailBytes));
}

void Dupebase::LoadDupebase(RunState& state) { data_ = DupeDataFromFile(ReadBoundedFile(state)); }

void Dupebase::SaveDupebase(RunState& state) {
  std::lock_guard lock(state.StateMutex);
  platform::DurableFile file;
  if (!file.Create(kDupebaseFileName, kTempFileName, nullptr)) return;
  if (file.Write(DupebaseFileBytes(data_))) file.Commit(nullptr);
}

bool Dupebase::IsKnownMessageId(std::string_view message_id) const {
  return data_.find(message_id) != std::string::npos;
}

void Dupebase::RememberMessageId(std::string_view message_id) {
  data_.append(message_id);
  data_.append("\r\n");
}

void Dupebase::ForgetSince(std::size_t mark) {
  if (mark < data_.size()) data_.resize(mark);
}

}  // namespace postil
