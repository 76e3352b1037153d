#include "pop3/dupebase.h"

#include <algorithm>
#include <functional>
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

void Dupebase::LoadDupebase(RunState& state) {
  data_ = DupeDataFromFile(ReadBoundedFile(state));
  entries_.clear();
  AddEntries(0);
}

void Dupebase::AddEntries(std::size_t from) {
  std::string_view rest = std::string_view(data_).substr(from);
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    entries_.emplace(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 2);
  }
}

void Dupebase::SaveDupebase(RunState& state) {
  std::lock_guard lock(state.StateMutex);
  platform::DurableFile file;
  if (!file.Create(kDupebaseFileName, kTempFileName, nullptr)) return;
  if (file.Write(DupebaseFileBytes(data_))) file.Commit(nullptr);
}

bool Dupebase::IsKnownMessageId(std::string_view message_id) const {
  if (message_id.empty()) return true;  // the empty text occurs in any text
  if (entries_.count(std::string(message_id)) != 0) return true;
  return std::search(data_.begin(), data_.end(),
                     std::boyer_moore_horspool_searcher(message_id.begin(), message_id.end())) !=
         data_.end();
}

void Dupebase::RememberMessageId(std::string_view message_id) {
  data_.append(message_id);
  data_.append("\r\n");
  entries_.emplace(message_id);
}

void Dupebase::ForgetSince(std::size_t mark) {
  if (mark >= data_.size()) return;
  data_.resize(mark);
  // Rebuilt rather than taken apart: a line cut by the mark, or one that
  // also stands before it, must come out right.
  entries_.clear();
  AddEntries(0);
}

}  // namespace postil
