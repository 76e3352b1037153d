// The parts of a durable file that are the same on every system: names,
// moves, the gathering of writes and the order in which a DeferredSync
// names its files. Opening, flushing, renaming and syncing are the system's
// (files_posix.cpp, files_win32.cpp).
#include <string>
#include <string_view>
#include <utility>

#include "platform/files.h"

namespace postil::platform {
namespace {

std::string_view BaseName(std::string_view path) {
  std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The native directory of a host path, ending in "/", or "" for a bare name.
std::string NativeDirectoryOf(std::string_view path) {
  std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string_view::npos) return {};
  std::string dir = NativePath(path.substr(0, separator + 1));
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

DurableFile::~DurableFile() { Discard(); }

DurableFile::DurableFile(DurableFile&& other) noexcept
    : fd_(other.fd_),
      failed_(other.failed_),
      final_path_(std::move(other.final_path_)),
      temp_path_(std::move(other.temp_path_)),
      buffer_(std::move(other.buffer_)) {
  other.fd_ = -1;
}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
  if (this != &other) {
    Discard();
    fd_ = other.fd_;
    failed_ = other.failed_;
    final_path_ = std::move(other.final_path_);
    temp_path_ = std::move(other.temp_path_);
    buffer_ = std::move(other.buffer_);
    other.fd_ = -1;
  }
  return *this;
}

bool DurableFile::Create(std::string_view final_path, std::string_view temp_path,
                         std::string* err) {
  // A file that exists under another letter case is replaced under its own
  // spelling, so no second file of that name appears beside it.
  std::string final_native = NativePath(final_path);
  std::size_t slash = final_native.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : final_native.substr(0, slash + 1);
  std::string temp_native = dir + std::string(BaseName(temp_path));
  if (Open(final_native, temp_native, err)) return true;
  // A temporary file left by a run that died would block every later save;
  // one that another run is still writing is left to it.
  return RemoveAbandonedFile(temp_native) &&
         Open(std::move(final_native), std::move(temp_native), err);
}

CreateResult DurableFile::CreateNew(std::string_view final_path, std::string_view temp_path,
                                    std::string* err) {
  // Resolve the directory once and keep the names as given: a
  // case-insensitive search of a directory of thousands of spool files for
  // names that do not exist costs more than the write itself.
  return CreateIn(NativeDirectoryOf(final_path), BaseName(final_path), BaseName(temp_path), err);
}

bool DurableFile::Write(std::string_view bytes) {
  // Writes are gathered so that a message copied line by line costs one
  // system call per 64 KiB, not one per line.
  constexpr std::size_t kFlushAt = 64 * 1024;
  if (failed_ || fd_ < 0) return false;
  buffer_.append(bytes);
  if (buffer_.size() >= kFlushAt) return Flush();
  return true;
}

CreateResult DeferredSync::CreateNew(std::string_view name, std::string_view temp_name,
                                     DurableFile* file, std::string* err) {
  return file->CreateIn(native_dir_, name, temp_name, err);
}

bool DeferredSync::Hold(DurableFile file, std::string* err) {
  if (!file.Flush()) {
    if (err != nullptr) *err = file.final_path_ + ": " + LastErrorText();
    return false;  // `file` takes its temporary file along
  }
  // A session may hold thousands of files: none keeps its write buffer.
  std::string().swap(file.buffer_);
  held_.push_back(std::move(file));
  return true;
}

bool DeferredSync::Sync(std::vector<std::string>* left_named, std::string* err) {
  std::vector<DurableFile> held = std::move(held_);
  held_.clear();
  if (held.empty()) return true;
  const auto sync_failed = [&] {
    if (err != nullptr) *err = native_dir_ + ": the file system could not be synced";
    return false;
  };
  // The data reaches the disk under the temporary names first, so that no
  // final name can ever stand for bytes that are not there (after a power
  // cut, a name renamed before its data was synced may hold nothing).
  if (!dir_.IsOpen() || !disk_.SyncFileSystem(dir_)) return sync_failed();
  std::vector<std::string> named;
  named.reserve(held.size());
  for (DurableFile& file : held) {
    std::string final_path = file.final_path_;
    if (!file.Rename(err)) {
      Unname(named, left_named);
      return false;
    }
    named.push_back(std::move(final_path));
  }
  if (disk_.SyncFileSystem(dir_)) return true;
  Unname(named, left_named);
  return sync_failed();
}

void DeferredSync::Unname(const std::vector<std::string>& named,
                          std::vector<std::string>* left_named) {
  for (const std::string& path : named) {
    if (!disk_.RemoveNamed(path) && left_named != nullptr) left_named->push_back(path);
  }
}

}  // namespace postil::platform
