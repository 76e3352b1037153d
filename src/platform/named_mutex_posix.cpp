#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/named_mutex.h"

namespace postil::platform {
namespace {

bool IsUsableDirectory(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// A file we do not own, or that is not a plain file, could be held by
// someone else to make our runs wait: it is not used.
bool IsOwnLockFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
}

}  // namespace

std::string NamedMutexPath(std::string_view name) {
  std::string dir = "/tmp";
  for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (IsUsableDirectory(value)) {
      dir = value;
      break;
    }
  }
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir + "/" + std::string(name) + "-" + std::to_string(::geteuid());
}

NamedMutex::NamedMutex(std::string_view name) : name_(name) {}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

void NamedMutex::OpenLockFile() {
  opened_ = true;
  // O_NOFOLLOW: a link planted under our name in a shared directory must
  // not make us create or lock a file elsewhere.
  fd_ = ::open(NamedMutexPath(name_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  if (!IsOwnLockFile(fd_)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  ::fchmod(fd_, 0600);
}

void NamedMutex::lock() {
  in_process_.lock();
  if (!opened_) OpenLockFile();
  // Without a lock file the processes are not serialised, but the threads
  // of this one still are; the run goes on.
  while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void NamedMutex::unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  in_process_.unlock();
}

}  // namespace postil::platform
