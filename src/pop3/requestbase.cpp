#include "pop3/requestbase.h"

#include <algorithm>
#include <mutex>

#include "core/program_identity.h"
#include "core/run_state.h"
#include "platform/files.h"

namespace postil {
namespace {

constexpr std::size_t kKindOffset = 0;
constexpr std::size_t kAgeOffset = 1;
constexpr std::size_t kShortLengthOffset = 2;
constexpr std::size_t kShortTextOffset = 3;
constexpr std::size_t kIdLengthOffset = 11;
constexpr std::size_t kIdOffset = 12;
// Requests of kind 100 and 101 are dropped at the end of the run in which
// their age already is this.
constexpr std::uint8_t kLastAge = 254;

std::string Field(std::string_view bytes, std::size_t length_offset, std::size_t offset,
                  std::size_t width) {
  std::size_t length =
      std::min<std::size_t>(static_cast<unsigned char>(bytes[length_offset]), width);
  return std::string(bytes.substr(offset, length));
}

void PutField(std::string* bytes, std::size_t length_offset, std::size_t offset, std::size_t width,
              std::string_view text) {
  text = text.substr(0, width);
  (*bytes)[length_offset] = static_cast<char>(text.size());
  bytes->replace(offset, text.size(), text);
}

bool Contains(const std::vector<std::string>& ids, std::string_view message_id) {
  return std::find(ids.begin(), ids.end(), message_id) != ids.end();
}

bool IsFetchKind(std::uint8_t kind) { return kind == kRequestFetchDelete || kind == kRequestFetch; }

}  // namespace

RequestRecord ParseRequestRecord(std::string_view bytes) {
  RequestRecord record;
  record.kind = static_cast<std::uint8_t>(bytes[kKindOffset]);
  record.age = static_cast<std::uint8_t>(bytes[kAgeOffset]);
  record.short_text = Field(bytes, kShortLengthOffset, kShortTextOffset, kShortTextField);
  record.message_id = Field(bytes, kIdLengthOffset, kIdOffset, kMessageIdField);
  return record;
}

std::string FormatRequestRecord(const RequestRecord& record) {
  std::string bytes(kRequestRecordSize, ' ');
  bytes[kKindOffset] = static_cast<char>(record.kind);
  bytes[kAgeOffset] = static_cast<char>(record.age);
  PutField(&bytes, kShortLengthOffset, kShortTextOffset, kShortTextField, record.short_text);
  PutField(&bytes, kIdLengthOffset, kIdOffset, kMessageIdField, record.message_id);
  return bytes;
}

void Requestbase::OpenRequestbase(RunState& state, std::string_view file_name, int host_release) {
  if (host_release <= 0) return;
  file_name_ = file_name;
  std::optional<std::string> bytes;
  {
    std::lock_guard lock(state.StateMutex);
    constexpr std::size_t kMaxBytes = kMaxRequestRecords * kRequestRecordSize;
    if (!platform::FileExists(file_name) && !platform::DirectoryExists(file_name))
      bytes.emplace();
    else if (platform::FileSize(file_name).value_or(kMaxBytes + 1) <= kMaxBytes)
      bytes = platform::ReadFilePrefix(file_name, kMaxBytes);
  }
  if (!bytes) {
    state.log.For(LogThread::kMain).Write(LogLevel::kFailure, "Error Opening Requestbase");
    return;
  }
  open_ = true;
  std::string_view rest = *bytes;
  for (; rest.size() >= kRequestRecordSize; rest.remove_prefix(kRequestRecordSize)) {
    records_.emplace_back(rest.substr(0, kRequestRecordSize));
    RequestRecord record = ParseRequestRecord(records_.back());
    if (IsFetchKind(record.kind)) fetch_requests_.push_back(record.message_id);
    if (record.kind == kRequestFetchDelete || record.kind == kRequestDelete)
      delete_requests_.push_back(record.message_id);
  }
  tail_ = rest;
}

bool Requestbase::IsFetchRequested(std::string_view message_id) const {
  return Contains(fetch_requests_, message_id);
}

bool Requestbase::IsDeleteRequested(std::string_view message_id) const {
  return Contains(delete_requests_, message_id);
}

bool Requestbase::MarkRequestDone(RunState& state, std::string_view message_id) {
  return MarkRequestsDone(state, {std::string(message_id)});
}

bool Requestbase::MarkRequestsDone(RunState& state, const std::vector<std::string>& message_ids) {
  if (!open_) return false;
  bool changed = false;
  for (const std::string& id : message_ids) changed = MarkRecords(id) || changed;
  if (changed) Write(state);
  return true;
}

bool Requestbase::MarkRecords(std::string_view message_id) {
  bool changed = false;
  for (std::string& bytes : records_) {
    RequestRecord record = ParseRequestRecord(bytes);
    if (record.message_id != message_id) continue;
    if (IsFetchKind(record.kind)) {
      record.kind = kRequestServed;
      record.age = 255;
    } else if (record.kind == kRequestDelete) {
      record.kind = kRequestEmpty;
      record.age = 0;
    } else {
      continue;
    }
    bytes = FormatRequestRecord(record);
    changed = true;
  }
  return changed;
}

void Requestbase::CloseRequestbase(RunState& state) {
  if (!open_) return;
  bool changed = false;
  for (std::string& bytes : records_) {
    RequestRecord record = ParseRequestRecord(bytes);
    if (!IsFetchKind(record.kind)) continue;
    if (record.age < kLastAge) {
      ++record.age;
    } else {
      record.kind = kRequestEmpty;
      record.age = 0;
    }
    bytes = FormatRequestRecord(record);
    changed = true;
  }
  if (changed) Write(state);
  open_ = false;
}

std::vector<RequestRecord> Requestbase::Records() const {
  std::vector<RequestRecord> records;
  for (const std::string& bytes : records_) records.push_back(ParseRequestRecord(bytes));
  return records;
}

// The whole file is replaced (temporary name, sync, rename), so a crash
// leaves either the old or the new records, never a torn one.
bool Requestbase::Write(RunState& state) {
  std::string bytes;
  bytes.reserve(records_.size() * kRequestRecordSize + tail_.size());
  for (const std::string& record : records_) bytes += record;
  bytes += tail_;
  std::string temp = file_name_ + ".tmp";
  std::lock_guard lock(state.StateMutex);
  platform::DurableFile file;
  if (!file.Create(file_name_, temp, nullptr)) return false;
  return file.Write(bytes) && file.Commit(nullptr);
}

}  // namespace postil
