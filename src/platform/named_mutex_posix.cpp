#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace postil::platform {

NamedMutex::NamedMutex(std::string_view name) {
  const char* tmp = std::getenv("TMPDIR");
  lock_path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + std::string(name);
  fd_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

void NamedMutex::lock() {
  in_process_.lock();
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
