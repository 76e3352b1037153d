#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "support/host_dir.h"

namespace postil::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kName = "postil_test_mutex";

// Sets (or, with nothing, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

// Every test keeps its lock files in a runtime directory of its own, removed
// with it.
class NamedMutexTest : public testing::Test {
 protected:
  test::HostDir runtime_;
  ScopedEnv xdg_{"XDG_RUNTIME_DIR", runtime_.path()};
};

// Holds `path` with flock(1) for `seconds` in another process.
std::thread HoldInAnotherProcess(const std::string& path, const char* seconds) {
  return std::thread([path, seconds] {
    ProcessOptions options;
    options.time_limit_ms = 10000;
    RunProcess({"/usr/bin/flock", path, "/bin/sleep", seconds}, options);
  });
}

std::chrono::steady_clock::duration TimeToLock(NamedMutex& mutex) {
  auto start = std::chrono::steady_clock::now();
  mutex.lock();
  auto waited = std::chrono::steady_clock::now() - start;
  mutex.unlock();
  return waited;
}

TEST_F(NamedMutexTest, ExcludesThreadsOfOneProcess) {
  NamedMutex mutex(kName);
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

// Another process of this user holding the lock file (as a second POSTIL
// would) keeps this process waiting until it lets go.
TEST_F(NamedMutexTest, WaitsForAnotherProcessOfTheSameUser) {
  if (!fs::exists("/usr/bin/flock")) GTEST_SKIP() << "flock(1) missing";
  NamedMutex mutex(kName);
  std::thread holder = HoldInAnotherProcess(NamedMutexPath(kName), "0.6");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto waited = TimeToLock(mutex);
  holder.join();
  EXPECT_GT(waited, std::chrono::milliseconds(250));
}

// The file is made at the first lock, in the runtime directory, with the
// user id in its name, readable and writable by its owner alone.
TEST_F(NamedMutexTest, LockFileIsOwnerOnlyInTheRuntimeDirectory) {
  NamedMutex mutex(kName);
  const std::string path = NamedMutexPath(kName);
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(runtime_.path()));
  EXPECT_TRUE(fs::path(path).filename().string().starts_with(std::string(kName) + "-"));
  EXPECT_FALSE(fs::exists(path));  // not before the first lock
  mutex.lock();
  mutex.unlock();
  ASSERT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(NamedMutexTest, DirectoryOrder) {
  test::HostDir tmp;
  struct Case {
    std::optional<std::string> xdg;
    std::optional<std::string> tmpdir;
    std::string expected_dir;
  };
  const Case cases[] = {
      {runtime_.path(), tmp.path(), runtime_.path()},
      {std::nullopt, tmp.path(), tmp.path()},
      {"", tmp.path() + "/", tmp.path()},
      {"relative/dir", tmp.path(), tmp.path()},                // not an absolute path
      {runtime_.path() + "/missing", tmp.path(), tmp.path()},  // not a directory
      {std::nullopt, std::nullopt, "/tmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xdg.value_or("(unset)") + " / " + c.tmpdir.value_or("(unset)"));
    ScopedEnv xdg("XDG_RUNTIME_DIR", c.xdg);
    ScopedEnv tmpdir("TMPDIR", c.tmpdir);
    EXPECT_EQ(fs::path(NamedMutexPath(kName)).parent_path(), fs::path(c.expected_dir));
  }
}

// Lock files that are not this user's own do not hold it up: the one all
// users once shared, another user's, and one planted under this user's
// name by someone else.
TEST_F(NamedMutexTest, LockFilesOfOthersDoNotMatter) {
  if (!fs::exists("/usr/bin/flock")) GTEST_SKIP() << "flock(1) missing";
  const std::string own = NamedMutexPath(kName);
  const std::string shared = runtime_.PathOf(kName);
  const std::string other_user = runtime_.PathOf(std::string(kName) + "-4242424");
  std::vector<std::thread> holders;
  for (const std::string& path : {shared, other_user})
    holders.push_back(HoldInAnotherProcess(path, "0.8"));
  // As root the planted file can be given to another user; elsewhere the
  // first two cases still run.
  runtime_.Write(fs::path(own).filename().string(), "");
  ProcessOptions quiet;
  bool planted = RunProcess({"/bin/chown", "4242424", own}, quiet).exit_code == 0;
  if (planted) holders.push_back(HoldInAnotherProcess(own, "0.8"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  NamedMutex mutex(kName);
  auto waited = TimeToLock(mutex);
  for (std::thread& holder : holders) holder.join();
  EXPECT_LT(waited, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace postil::platform
