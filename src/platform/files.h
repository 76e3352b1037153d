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

bool FileExists(std::string_view path);       // a regular file
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

// A file that only appears under its final name once it is complete: it is
// written under a temporary name in the same directory, and Commit() syncs
// it, renames it into place and syncs the directory. Destroyed without
// Commit(), the temporary file is removed. The temporary file stays locked
// until then (see RemoveAbandonedFile). Move-only.
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
  // letter case: the names are kept as given, which spares a search of the
  // directory for each file.
  bool CreateNew(std::string_view final_path, std::string_view temp_path, std::string* err);
  bool IsOpen() const { return fd_ >= 0; }
  // Buffered; false once any write failed.
  bool Write(std::string_view bytes);
  bool Commit(std::string* err);
  // Removes the temporary file without committing.
  void Discard();

 private:
  bool Open(std::string final_path, std::string temp_path, std::string* err);
  bool Flush();

  int fd_ = -1;
  bool failed_ = false;
  std::string final_path_;
  std::string temp_path_;
  std::string buffer_;
};

}  // namespace postil::platform
