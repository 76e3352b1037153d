// The state mutex shared by all threads of this process and by every other
// POSTIL process: an in-process mutex paired with an advisory lock on a file
// of the mutex's name in the system's temporary directory (a file lock alone
// does not exclude threads of one process). Any thread; BasicLockable.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace postil::platform {

class NamedMutex {
 public:
  explicit NamedMutex(std::string_view name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits without time limit.
  void lock();
  void unlock();

 private:
  std::mutex in_process_;
  std::string lock_path_;
  int fd_ = -1;  // the lock file, open for the object's life; -1 if it could not be made
};

}  // namespace postil::platform
