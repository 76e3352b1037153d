#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace postil::platform {
namespace {

std::string UniqueName() {
  return "postil_test_mutex_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

TEST(NamedMutex, ExcludesThreadsOfOneProcess) {
  NamedMutex mutex(UniqueName());
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::lock_guard lock(mutex);
        if (inside.fetch_add(1) != 0) overlap = true;
        std::this_thread::yield();
        inside.fetch_sub(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(overlap);
}

// Another process holding the lock file (flock, as a second POSTIL would)
// keeps this process waiting until it lets go.
TEST(NamedMutex, WaitsForAnotherProcess) {
  if (!std::filesystem::exists("/usr/bin/flock")) GTEST_SKIP() << "flock(1) missing";
  std::string name = UniqueName();
  NamedMutex mutex(name);
  std::string lock_path = std::filesystem::temp_directory_path().string() + "/" + name;
  std::thread holder([&] {
    ProcessOptions options;
    options.time_limit_ms = 10000;
    RunProcess({"/usr/bin/flock", lock_path, "/bin/sleep", "0.6"}, options);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto start = std::chrono::steady_clock::now();
  mutex.lock();
  auto waited = std::chrono::steady_clock::now() - start;
  mutex.unlock();
  holder.join();
  EXPECT_GT(waited, std::chrono::milliseconds(250));
  std::filesystem::remove(lock_path);
}

}  // namespace
}  // namespace postil::platform
