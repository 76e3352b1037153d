#include <windows.h>

#include <cstdint>

#include "platform/named_mutex.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

// Windows keeps handle values within 32 bits (so 32- and 64-bit processes
// can share them), which lets the handle live in the descriptor field.
HANDLE HandleOf(int value) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value)); }

int ValueOf(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

}  // namespace

// The mutex is the session's named kernel object; there is no file.
std::string NamedMutexPath(std::string_view name) { return std::string(name); }

NamedMutex::NamedMutex(std::string_view name) : name_(name) {}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::CloseHandle(HandleOf(fd_));
}

void NamedMutex::OpenLockFile() {
  opened_ = true;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, WideText(name_).c_str());
  fd_ = mutex == nullptr ? -1 : ValueOf(mutex);
}

void NamedMutex::lock() {
  in_process_.lock();
  if (!opened_) OpenLockFile();
  // An owner that ended without letting go leaves the mutex abandoned: it
  // is ours then, and the state it guarded is only counters and fields that
  // are rewritten whole, so the run goes on. Without the mutex the threads
  // of this process are still serialised.
  if (fd_ >= 0) ::WaitForSingleObject(HandleOf(fd_), INFINITE);
}

void NamedMutex::unlock() {
  if (fd_ >= 0) ::ReleaseMutex(HandleOf(fd_));
  in_process_.unlock();
}

}  // namespace postil::platform
