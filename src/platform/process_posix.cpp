#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace postil::platform {
namespace {

long long NowMs() {
  timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const ProcessOptions& options,
                            int out_fd) {
  ::dup2(out_fd, 1);
  ::dup2(out_fd, 2);
  int null_fd = ::open("/dev/null", O_RDONLY);
  if (null_fd >= 0) ::dup2(null_fd, 0);
  if (!options.working_dir.empty() && ::chdir(options.working_dir.c_str()) != 0) ::_exit(126);
  for (const auto& [name, value] : options.env) {
    if (value.empty()) ::unsetenv(name.c_str());
    else ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  int pipe_fds[2];
  if (argv.empty() || ::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) ExecChild(argv, options, pipe_fds[1]);
  ::close(pipe_fds[1]);
  if (pid < 0) {
    ::close(pipe_fds[0]);
    return result;
  }
  long long deadline = NowMs() + options.time_limit_ms;
  char buffer[4096];
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd pfd {pipe_fds[0], POLLIN, 0};
    int ready = ::poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peak_memory_kb = usage.ru_maxrss;
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

}  // namespace postil::platform
