// File system access for the rest of the program. Paths are host paths:
// "\" and "/" both separate directories, a drive prefix such as "C:" maps to
// POSTIL_DRIVE_C (or the root), and each component is matched exactly first,
// then without regard to case. Any thread; the objects are owned by one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postil::platform {

// The native path a host path stands for. Components that exist under another
// case are replaced by their real spelling; missing ones are kept as given.
std::string NativePath(std::string_view host_path);

bool FileExists(std::string_view path);  // a regular file
bool DirectoryExists(std::string_view path);
std::optional<std::uint64_t> FileSize(std::string_view path);
// False when the directory could not be made (the caller finds out when it
// uses it).
bool MakeDirectory(std::string_view path);
bool RemoveFile(std::string_view path, std::string* err);

// Names (not paths) of the regular files in `dir` whose names match `pattern`
// ("?" one character, "*" any run) without regard to case, in listing order.
std::vector<std::string> FindFiles(std::string_view dir, std::string_view pattern);

// Names of every entry of `dir` (files, directories, anything else) in
// listing order, without "." and "..": one directory read, no stat per entry.
std::vector<std::string> ListNames(std::string_view dir);

// Removes a temporary file that no process is writing any more: a
// DurableFile holds a lock on its temporary file until it has its final
// name or is discarded, so an unlocked one was left by a process that died.
// False when the file is missing, is no regular file, is still being
// written, or cannot be removed.
bool RemoveAbandonedFile(std::string_view path);

// Up to `max_bytes` from the start of a file; nothing when it cannot be read.
std::optional<std::string> ReadFilePrefix(std::string_view path, std::size_t max_bytes);

std::string GetEnvironment(std::string_view name);
// Sets a variable of this process's environment; nothing: removes it.
void SetEnvironment(std::string_view name, std::optional<std::string_view> value);

// Text of the last OS error (errno) for log lines.
std::string LastErrorText();

// An open file of the operating system, closed with the object. Move-only.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() { Close(); }
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  void Reset(int fd);
  void Close() { Reset(-1); }

 private:
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

  int fd_ = -1;
};

// A file opened for sequential reading.
class InputFile {
 public:
  bool Open(std::string_view path, std::string* err);
  bool IsOpen() const { return handle_.IsOpen(); }
  // Bytes read into `buffer` (0 at the end of the file), or -1 on an error.
  std::int64_t Read(char* buffer, std::size_t size);
  // Reads on to the end of the file, or up to `max_bytes` in all, into
  // `bytes`; the memory taken follows the file, not the bound. False on a
  // read error, with `bytes` holding what was read before it.
  bool ReadUpTo(std::size_t max_bytes, std::string* bytes);
  bool Rewind();
  void Close() { handle_.Close(); }

 private:
  FileHandle handle_;
};

// A file opened for appending; each Append is a single write, so lines
// appended by several threads never interleave.
class AppendFile {
 public:
  bool Open(std::string_view path, std::string* err);
  bool IsOpen() const { return handle_.IsOpen(); }
  bool Append(std::string_view bytes);
  void Close() { handle_.Close(); }

 private:
  FileHandle handle_;
};

// What creating a file under a new name came to.
enum class CreateResult {
  kCreated,
  kNameTaken,  // the name or the temporary name exists (another writer has it)
  kFailed,     // anything else: a missing directory, no permission
};

// A file that only appears under its final name once it is complete: it is
// written under a temporary name in the same directory, and Commit() syncs
// it, renames it into place and syncs the directory (or a DeferredSync
// holds it and commits many files at once). Destroyed without Commit(), the
// temporary file is removed. The temporary file stays locked until then
// (see RemoveAbandonedFile). Move-only.
class DurableFile {
 public:
  DurableFile() = default;
  ~DurableFile();
  DurableFile(DurableFile&& other) noexcept;
  DurableFile& operator=(DurableFile&& other) noexcept;
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Creates `temp_path` exclusively (fails when it exists and another
  // process is writing it; one left by a process that died is removed); it
  // becomes `final_path` on Commit(), replacing a file of that name in any
  // letter case under that file's own spelling. Both must be in the same
  // directory.
  bool Create(std::string_view final_path, std::string_view temp_path, std::string* err);
  // As Create(), for a `final_path` the caller knows to be free in every
  // other letter case: the names are kept as given, which spares a search
  // of the directory for each file. kNameTaken when `temp_path` or
  // `final_path` exists: nothing is replaced.
  CreateResult CreateNew(std::string_view final_path, std::string_view temp_path, std::string* err);
  bool IsOpen() const { return fd_ >= 0; }
  // Buffered; false once any write failed.
  bool Write(std::string_view bytes);
  bool Commit(std::string* err);
  // Removes the temporary file without committing.
  void Discard();

 private:
  friend class DeferredSync;

  CreateResult CreateIn(const std::string& native_dir, std::string_view name,
                        std::string_view temp_name, std::string* err);
  bool Open(std::string final_path, std::string temp_path, std::string* err);
  bool Flush();
  // Commit() without the syncs.
  bool Rename(std::string* err);

  int fd_ = -1;
  bool failed_ = false;
  std::string final_path_;
  std::string temp_path_;
  std::string buffer_;
};

// How the files of a DeferredSync reach the disk, and how it takes away
// files it named but could not make durable. SystemDiskSync() is the real
// one; tests put one in its place that fails, the faults that cannot be
// made for real. Any thread.
class DiskSync {
 public:
  virtual ~DiskSync() = default;
  // Everything written to the file system that holds the open directory
  // `dir` reaches the disk, names included. False when that failed or when
  // any write-back on that file system failed since `dir` was opened.
  virtual bool SyncFileSystem(const FileHandle& dir) = 0;
  // Removes a file by its native path; false when it is still there.
  virtual bool RemoveNamed(const std::string& native_path);
};

DiskSync& SystemDiskSync();

// Durable files of one directory that become visible together: a file whose
// bytes are all written is held under its temporary name, still locked, and
// Sync() makes the data of all of them durable, renames them into place and
// makes the names durable. A process that dies before Sync() leaves only
// temporary files, which the next writer removes as abandoned; one killed
// during Sync() may leave some of the files named. Each held file keeps its
// descriptor open, so the process's limit on open files is raised as far as
// the system allows. Owned by one thread.
class DeferredSync {
 public:
  // `dir` is a host path. It is opened now, so that Sync() also learns of
  // write-backs that failed before it.
  DeferredSync(std::string_view dir, DiskSync& disk);

  // DurableFile::CreateNew for the bare names `name` and `temp_name` in the
  // directory, without resolving the directory again.
  CreateResult CreateNew(std::string_view name, std::string_view temp_name, DurableFile* file,
                         std::string* err);
  // Takes a file of this directory whose bytes are all written, to be named
  // at the next Sync(). False, with the file removed, when its bytes could
  // not be written.
  bool Hold(DurableFile file, std::string* err);
  // Files held since the last Sync() or Discard().
  std::size_t Held() const { return held_.size(); }
  // Names every held file at once, durably. False when any part failed:
  // then no held file keeps its name, except those that could not be
  // removed again, which are added to `left_named` (native paths); `err`
  // says why.
  bool Sync(std::vector<std::string>* left_named, std::string* err);
  // Removes every held file unnamed.
  void Discard() { held_.clear(); }

 private:
  // Takes the names of `named` away again; those still there go to
  // `left_named`.
  void Unname(const std::vector<std::string>& named, std::vector<std::string>* left_named);

  DiskSync& disk_;
  std::string native_dir_;  // ends in "/"
  FileHandle dir_;
  std::vector<DurableFile> held_;
};

}  // namespace postil::platform
