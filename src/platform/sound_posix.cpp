#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sound.h"

namespace postil::platform {
namespace {

constexpr std::array<std::string_view, 4> kPlayers = {"aplay", "paplay", "pw-play", "play"};

std::optional<std::string> FindPlayer() {
  std::string path_list = GetEnvironment("PATH");
  for (std::string_view player : kPlayers) {
    std::size_t start = 0;
    while (start <= path_list.size()) {
      std::size_t end = path_list.find(':', start);
      if (end == std::string::npos) end = path_list.size();
      std::string dir = path_list.substr(start, end - start);
      std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + std::string(player);
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
  }
  return std::nullopt;
}

// Runs in the forked child of a threaded process: only async-signal-safe
// calls until exec.
[[noreturn]] void ExecDetached(char* const* argv) {
  if (::fork() != 0) ::_exit(0);  // the grandchild is adopted by init
  ::setsid();
  int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
  }
  ::execv(argv[0], argv);
  ::_exit(127);
}

}  // namespace

void Beep() {
  if (::isatty(1) != 1) return;
  ssize_t written = ::write(1, "\a", 1);
  (void)written;
}

void PlaySoundFile(std::string_view path) {
  std::string file = NativePath(path);
  if (!FileExists(file)) return;
  std::optional<std::string> player = FindPlayer();
  if (!player) return;
  std::vector<std::string> args = {*player};
  if (player->ends_with("/aplay")) args.push_back("-q");
  args.push_back(file);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = ::fork();
  if (child == 0) ExecDetached(argv.data());
  if (child < 0) return;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace postil::platform
