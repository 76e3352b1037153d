#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

// Every open file is a C runtime descriptor over its Win32 handle, so the
// objects of files.h keep one handle type on every system.
HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int DescriptorOf(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return -1;
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
  if (fd < 0) ::CloseHandle(handle);
  return fd;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// "?" matches one character and "*" any run, without regard to case.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || SameIgnoringCase(name.substr(n, 1), pattern.substr(p, 1)))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

DWORD AttributesOf(const std::string& native) {
  return ::GetFileAttributesW(WideText(native).c_str());
}

bool Exists(const std::string& native) { return AttributesOf(native) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// The real spelling of the existing entry `name` of `dir`, or `name` itself.
std::string MatchComponent(const std::string& dir, const std::string& name) {
  if (name == "." || name == ".." || name.find_first_of("?*") != std::string::npos) return name;
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileExW(WideText(dir + name).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return name;
  ::FindClose(search);
  std::string found = NarrowText(entry.cFileName);
  return SameIgnoringCase(found, name) ? found : name;
}

bool IsDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// Each name of `dir` (a native path) with its attributes, in listing order.
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit visit) {
  std::string pattern = dir.empty() ? std::string(".") : dir;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
  pattern += '*';
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileExW(WideText(pattern).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = NarrowText(entry.cFileName);
    if (name != "." && name != "..") visit(name, entry.dwFileAttributes);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

void SetError(std::string* err, std::string_view what) {
  if (err != nullptr) *err = std::string(what) + ": " + LastErrorText();
}

void CloseFd(int& fd) {
  if (fd >= 0) ::_close(fd);
  fd = -1;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return ::MoveFileExW(WideText(from).c_str(), WideText(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Renames the open file `file` to `to` with POSIX semantics: a file at `to`
// that someone still reads (opened sharing deletion, as every reader here
// opens it) loses its name at once and is read on by its reader, as on
// POSIX. The plain rename refuses to replace a file that is open.
bool RenameOverOpenFile(HANDLE file, const std::string& to) {
  // FileRenameInfoEx, not named by every header set.
  constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  // The system takes the new name as a full path in its own (NT) form.
  const std::wstring relative = WideText(to);
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = ::GetFullPathNameW(relative.c_str(), static_cast<DWORD>(name.size()),
                                    name.data(), nullptr);
  if (length >= name.size()) {
    name.resize(length);
    length = ::GetFullPathNameW(relative.c_str(), length, name.data(), nullptr);
  }
  if (length == 0 || length >= name.size()) return false;
  name.resize(length);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  name.insert(0, L"\\??\\");
  const std::size_t size = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(size, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.c_str(), info->FileNameLength);
  return ::SetFileInformationByHandle(file, kRenameInfoEx, info, static_cast<DWORD>(size)) != 0;
}

void Remove(const std::string& native) { ::DeleteFileW(WideText(native).c_str()); }

// Where neither rename may replace a file that is open (older systems, and
// Wine), the open file is first renamed aside (its reader reads on) and
// removed once its reader closes it. Between the two renames the final name
// is missing for a moment; both files stay whole on the disk. The aside of
// an earlier replacement may still be open as well (a batched file cut
// twice while its reader holds it), so each takes the first free name of a
// few.
bool MoveAsideIntoPlace(const std::string& from, const std::string& to) {
  constexpr int kAsideNames = 8;
  for (int n = 0; n < kAsideNames; ++n) {
    const std::string aside = from + ".old" + (n == 0 ? std::string() : std::to_string(n));
    Remove(aside);  // one whose reader has gone
    if (!::MoveFileExW(WideText(to).c_str(), WideText(aside).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      if (Exists(aside)) continue;  // still held: the next name
      return false;
    }
    if (!MoveIntoPlace(from, to)) {
      ::MoveFileExW(WideText(aside).c_str(), WideText(to).c_str(), MOVEFILE_WRITE_THROUGH);
      return false;
    }
    Remove(aside);
    return true;
  }
  return false;
}

// Puts the open file `file`, at `from`, under the name `to`, replacing a
// file there even while someone reads it.
bool ReplaceIntoPlace(HANDLE file, const std::string& from, const std::string& to) {
  if (MoveIntoPlace(from, to)) return true;
  if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
  return RenameOverOpenFile(file, to) || MoveAsideIntoPlace(from, to);
}

}  // namespace

std::string NativePath(std::string_view host_path) {
  // Drive letters are real here; both separators are kept as "/", which
  // the Win32 API takes as well.
  std::string path(host_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::string resolved;
  if (IsDriveLetter(path)) {
    resolved = path.substr(0, 2);
    path.erase(0, 2);
  }
  if (path.starts_with("//")) {  // a UNC share stays as named
    resolved += "//";
    path.erase(0, 2);
  } else if (!path.empty() && path.front() == '/') {
    resolved += '/';
    path.erase(0, 1);
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    std::string name =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!name.empty()) resolved += MatchComponent(resolved, name);
    if (slash == std::string::npos) break;
    if (!name.empty()) resolved += '/';
    start = slash + 1;
  }
  return resolved.empty() ? std::string(".") : resolved;
}

bool FileExists(std::string_view path) { return IsRegularFile(AttributesOf(NativePath(path))); }

bool DirectoryExists(std::string_view path) { return IsDirectory(AttributesOf(NativePath(path))); }

std::optional<std::uint64_t> FileSize(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WideText(NativePath(path)).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool MakeDirectory(std::string_view path) {
  return ::CreateDirectoryW(WideText(NativePath(path)).c_str(), nullptr) != 0;
}

bool RemoveFile(std::string_view path, std::string* err) {
  if (::DeleteFileW(WideText(NativePath(path)).c_str())) return true;
  SetError(err, path);
  return false;
}

std::vector<std::string> FindFiles(std::string_view dir, std::string_view pattern) {
  std::vector<std::string> names;
  ForEachEntry(dir.empty() ? std::string(".") : NativePath(dir),
               [&](const std::string& name, DWORD attributes) {
                 if (IsRegularFile(attributes) && MatchesPattern(name, pattern))
                   names.push_back(name);
               });
  return names;
}

std::vector<std::string> ListNames(std::string_view dir) {
  std::vector<std::string> names;
  ForEachEntry(dir.empty() ? std::string(".") : NativePath(dir),
               [&](const std::string& name, DWORD) { names.push_back(name); });
  return names;
}

bool RemoveAbandonedFile(std::string_view path) {
  // A writer holds its file open without sharing reads, so the open fails
  // while it writes; one that succeeds is gone when it is closed.
  HANDLE file = ::CreateFileW(WideText(NativePath(path)).c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_DISPOSITION_INFO dispose{TRUE};
  const bool removed = ::GetFileInformationByHandle(file, &info) &&
                       IsRegularFile(info.dwFileAttributes) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                       ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose,
                                                    sizeof dispose);
  ::CloseHandle(file);
  return removed;
}

std::optional<std::string> ReadFilePrefix(std::string_view path, std::size_t max_bytes) {
  InputFile file;
  std::string bytes;
  if (file.Open(path, nullptr) && file.ReadUpTo(max_bytes, &bytes)) return bytes;
  return std::nullopt;
}

std::string GetEnvironment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value == nullptr ? std::string() : std::string(value);
}

void SetEnvironment(std::string_view name, std::optional<std::string_view> value) {
  // The C runtime's copy, which getenv() reads, and the process's own, which
  // children inherit; an empty value removes the variable on this system.
  const std::string variable(name);
  const std::string text = value ? std::string(*value) : std::string();
  ::_putenv_s(variable.c_str(), text.c_str());
  ::SetEnvironmentVariableW(WideText(variable).c_str(),
                            value ? WideText(text).c_str() : nullptr);
}

std::string LastErrorText() { return Win32ErrorText(::GetLastError()); }

void FileHandle::Reset(int fd) {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = fd;
}

bool InputFile::Open(std::string_view path, std::string* err) {
  Close();
  const std::string native = NativePath(path);
  if (IsDirectory(AttributesOf(native))) {
    ::SetLastError(ERROR_DIRECTORY);
    SetError(err, path);
    return false;
  }
  handle_.Reset(DescriptorOf(::CreateFileW(WideText(native).c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                           nullptr)));
  if (!handle_.IsOpen()) SetError(err, path);
  return handle_.IsOpen();
}

std::int64_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD n = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(HandleOf(handle_.get()), buffer, chunk, &n, nullptr)) return -1;
  return n;
}

bool InputFile::ReadUpTo(std::size_t max_bytes, std::string* bytes) {
  bytes->clear();
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(HandleOf(handle_.get()), &size) && size.QuadPart > 0)
    bytes->reserve(std::min(max_bytes, static_cast<std::size_t>(size.QuadPart)));
  char chunk[16 * 1024];
  while (bytes->size() < max_bytes) {
    std::int64_t n = Read(chunk, std::min(sizeof chunk, max_bytes - bytes->size()));
    if (n < 0) return false;
    if (n == 0) break;
    bytes->append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

bool InputFile::Rewind() {
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(HandleOf(handle_.get()), start, nullptr, FILE_BEGIN) != 0;
}

bool AppendFile::Open(std::string_view path, std::string* err) {
  // Append-only access makes every write land at the end as one piece.
  handle_.Reset(DescriptorOf(::CreateFileW(
      WideText(NativePath(path)).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!handle_.IsOpen()) SetError(err, path);
  return handle_.IsOpen();
}

bool AppendFile::Append(std::string_view bytes) {
  return handle_.IsOpen() && WriteAll(HandleOf(handle_.get()), bytes);
}

CreateResult DurableFile::CreateIn(const std::string& native_dir, std::string_view name,
                                   std::string_view temp_name, std::string* err) {
  std::string final_native = native_dir + std::string(name);
  std::string temp_native = native_dir + std::string(temp_name);
  if (!Open(final_native, temp_native, err)) {
    const DWORD error = ::GetLastError();
    const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                       error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    return taken ? CreateResult::kNameTaken : CreateResult::kFailed;
  }
  // A writer that names its files the same way created its temporary file
  // while this one existed, so a final name that is free now stays free
  // until this file is renamed.
  if (Exists(final_native)) {
    Discard();
    ::SetLastError(ERROR_FILE_EXISTS);
    SetError(err, final_native);
    return CreateResult::kNameTaken;
  }
  return CreateResult::kCreated;
}

bool DurableFile::Open(std::string final_path, std::string temp_path, std::string* err) {
  Discard();
  failed_ = true;
  // Shared for deletion only: it can be renamed into place while open, and
  // nobody else can open it, which marks it as being written.
  HANDLE file = ::CreateFileW(WideText(temp_path).c_str(), GENERIC_WRITE | DELETE,
                              FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetError(err, temp_path);
    return false;
  }
  fd_ = DescriptorOf(file);
  if (fd_ < 0) {
    SetError(err, temp_path);
    return false;
  }
  failed_ = false;
  final_path_ = std::move(final_path);
  temp_path_ = std::move(temp_path);
  return true;
}

bool DurableFile::Flush() {
  if (!failed_ && !WriteAll(HandleOf(fd_), buffer_)) failed_ = true;
  buffer_.clear();
  return !failed_;
}

bool DurableFile::Commit(std::string* err) {
  // Rename() flushes the file to the disk and renames it write-through:
  // there is no directory to sync afterwards on this system.
  return Rename(err);
}

void DurableFile::Discard() {
  // Removed before it is closed, while nobody else can have it open.
  if (!temp_path_.empty()) Remove(temp_path_);
  CloseFd(fd_);
  temp_path_.clear();
  buffer_.clear();
}

bool DurableFile::Rename(std::string* err) {
  if (fd_ < 0) return false;
  // Each file reaches the disk before it gets its name; the directory entry
  // is written through by the rename itself.
  if (!Flush() || !::FlushFileBuffers(HandleOf(fd_)) ||
      !ReplaceIntoPlace(HandleOf(fd_), temp_path_, final_path_)) {
    SetError(err, final_path_);
    Discard();
    return false;
  }
  temp_path_.clear();
  CloseFd(fd_);
  return true;
}

namespace {

class Win32DiskSync : public DiskSync {
 public:
  // Every file is flushed to the disk as it is renamed write-through, so
  // what a sync of the whole volume would add (it needs administrator
  // rights here) is already there.
  bool SyncFileSystem(const FileHandle& dir) override { return dir.IsOpen(); }
};

}  // namespace

DiskSync& SystemDiskSync() {
  static Win32DiskSync sync;  // no state of its own
  return sync;
}

DeferredSync::DeferredSync(std::string_view dir, DiskSync& disk)
    : disk_(disk), native_dir_(NativePath(dir)) {
  if (native_dir_.back() != '/') native_dir_ += '/';
  dir_.Reset(DescriptorOf(::CreateFileW(WideText(native_dir_).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr)));
}

bool DiskSync::RemoveNamed(const std::string& native_path) {
  Remove(native_path);
  return !Exists(native_path);
}

}  // namespace postil::platform
