// The state mutex shared by all threads of this process and by every other
// POSTIL process of the same user: an in-process mutex paired with an
// advisory lock on a lock file of the mutex's name (a file lock alone does
// not exclude threads of one process). The lock file lies in the user's own
// runtime directory, so runs of different users never wait for each other,
// as a named mutex in a Windows session would. Any thread; BasicLockable.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace postil::platform {

// Where the lock file of `name` lies: $XDG_RUNTIME_DIR, else $TMPDIR, else
// the system's temporary directory (the first that is an absolute path to a
// directory), with the user id in the file name.
std::string NamedMutexPath(std::string_view name);

class NamedMutex {
 public:
  explicit NamedMutex(std::string_view name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits without time limit. The lock file is made (owner-only) at the
  // first lock, so an object that is never locked leaves no file behind.
  void lock();
  void unlock();

 private:
  void OpenLockFile();

  std::mutex in_process_;
  std::string name_;
  bool opened_ = false;  // guarded by in_process_
  int fd_ = -1;          // guarded by in_process_; -1 when no usable lock file could be had
};

}  // namespace postil::platform
