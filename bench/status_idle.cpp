// Cost of the status screen while nothing happens: CPU share of the status
// thread and bytes written to the terminal over 10 idle seconds, measured
// twice:
//  1. in process: a ConsoleSession on a terminal console whose terminal only
//     counts the bytes; CPU is the process's (the status thread is the only
//     thread at work).
//  2. the real binary in an 80 x 25 tmux pane against an SMTP server that
//     greets and then stalls; CPU from /proc/<pid>/stat (all threads, so
//     the idle workers and main's polling too), bytes from the pane's output
//     stream (tmux pipe-pane).
// A baseline of a thread that only sleeps in the same rhythm comes first.
// Usage: bench_status_idle [seconds]   (needs tmux for the second part)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "console/console_session.h"
#include "console/terminal_console.h"
#include "core/run_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "support/fake_server.h"
#include "support/host_dir.h"

namespace {

using namespace postil;
using Seconds = std::chrono::duration<double>;

constexpr int kSettleMs = 1000;  // start-up drawing is not idle

class CountingTerminal final : public platform::TerminalIo {
 public:
  explicit CountingTerminal(std::atomic<std::uint64_t>& bytes) : bytes_(bytes) {}
  bool OutputIsTerminal() const override { return true; }
  std::optional<platform::TerminalSize> Size() const override {
    return platform::TerminalSize{25, 80};
  }
  void BeginSession(std::string_view) override {}
  void EndSession() override {}
  void Write(std::string_view bytes) override { bytes_ += bytes.size(); }
  std::size_t ReadInput(char*, std::size_t) override { return 0; }
  void DiscardInput() override {}
  bool TakeInterrupt() override { return false; }
  bool TakeResize() override { return false; }

 private:
  std::atomic<std::uint64_t>& bytes_;
};

void Report(const char* what, double cpu_seconds, double wall_seconds, std::uint64_t bytes) {
  std::printf(
      "%s: CPU %.3f s in %.1f s = %.2f%% of one core; %llu bytes to the terminal "
      "(%.1f bytes/s)\n",
      what, cpu_seconds, wall_seconds, 100.0 * cpu_seconds / wall_seconds,
      static_cast<unsigned long long>(bytes), bytes / wall_seconds);
}

// The floor the 5 ms cadence sets on this machine: a thread that only sleeps.
void SleepOnly(double seconds) {
  std::atomic<bool> stop{false};
  std::thread sleeper([&] {
    while (!stop) platform::SleepMilliseconds(5);
  });
  std::clock_t cpu_before = std::clock();
  auto wall_before = std::chrono::steady_clock::now();
  platform::SleepMilliseconds(static_cast<int>(seconds * 1000));
  double cpu = static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  double wall = Seconds(std::chrono::steady_clock::now() - wall_before).count();
  stop = true;
  sleeper.join();
  Report("baseline, a thread sleeping 5 ms in a loop", cpu, wall, 0);
}

void InProcess(double seconds) {
  platform::SystemClock clock;
  RunState state(clock);
  Config config;
  std::atomic<std::uint64_t> bytes{0};
  ConsoleSession session(
      state, std::make_unique<TerminalConsole>(std::make_unique<CountingTerminal>(bytes)));
  session.SaveScreen();
  std::thread screen([&] { session.StatusScreenThread(config); });
  platform::SleepMilliseconds(kSettleMs);
  std::uint64_t bytes_before = bytes;
  std::clock_t cpu_before = std::clock();
  auto wall_before = std::chrono::steady_clock::now();
  platform::SleepMilliseconds(static_cast<int>(seconds * 1000));
  double cpu = static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  double wall = Seconds(std::chrono::steady_clock::now() - wall_before).count();
  std::uint64_t idle_bytes = bytes - bytes_before;
  state.ScreenStopRequest = true;
  screen.join();
  session.RestoreScreen();
  Report("in process, status thread", cpu, wall, idle_bytes);
}

std::string FindTmux() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string path = std::string(dir) + "/tmux";
    if (platform::FileExists(path)) return path;
  }
  return {};
}

std::string ReadWhole(const std::string& path) {
  return platform::ReadFilePrefix(path, 1 << 20).value_or("");
}

// CPU time of a process in seconds, all its threads: user and system time
// from /proc/<pid>/stat, counted in the fixed 1/100 s ticks of that file.
std::optional<double> ProcessCpu(const std::string& pid) {
  constexpr double kTicksPerSecond = 100.0;
  std::string stat = ReadWhole("/proc/" + pid + "/stat");
  std::size_t after_name = stat.rfind(')');
  if (after_name == std::string::npos) return std::nullopt;
  // Fields after the name: state is the 3rd field, utime the 14th, stime the 15th.
  std::vector<std::string> fields;
  std::size_t at = after_name + 2;
  while (at < stat.size() && fields.size() < 13) {
    std::size_t end = std::min(stat.find(' ', at), stat.size());
    fields.push_back(stat.substr(at, end - at));
    at = end + 1;
  }
  if (fields.size() < 13) return std::nullopt;
  return (std::strtod(fields[11].c_str(), nullptr) + std::strtod(fields[12].c_str(), nullptr)) /
         kTicksPerSecond;
}

void RealBinary(double seconds) {
  std::string tmux = FindTmux();
  if (tmux.empty()) {
    std::printf("real binary: skipped, tmux is not installed\n");
    return;
  }
  test::FakeServer server([](test::FakeConnection& connection) {
    connection.SendLine("220 stall.test ready");
    connection.StallUntilStopped();
  });
  test::HostDir dir;
  dir.Write("OUT/M0001.OUT", "HELO here\r\nMAIL FROM:<a@here>\r\nQUIT\r\n");
  dir.Write("POSTIL.CFG", "$Pop3Server=disabled\r\n$SmtpServer=127.0.0.1\r\n$SmtpPort=" +
                              std::to_string(server.port()) +
                              "\r\n$SmtpSpool=OUT\r\n$SmtpTimeOut=120\r\n");
  const std::string socket = dir.PathOf("tmux.sock");
  const std::string stream = dir.PathOf("pane.out");
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {tmux, "-S", socket});
    platform::ProcessOptions options;
    options.time_limit_ms = 10000;
    return platform::RunProcess(args, options);
  };
  run({"-f", "/dev/null", "new-session", "-d", "-s", "b", "-x", "80", "-y", "25", "-c", dir.path(),
       POSTIL_BINARY, "POSTIL.CFG"});
  run({"pipe-pane", "-t", "b", "cat > '" + stream + "'"});
  std::string pid = run({"display-message", "-p", "-t", "b", "#{pane_pid}"}).output;
  while (!pid.empty() && pid.back() == '\n') pid.pop_back();
  for (int i = 0; i < 100 && server.ConnectionCount() == 0; ++i) platform::SleepMilliseconds(50);
  platform::SleepMilliseconds(kSettleMs);

  std::optional<double> cpu_before = ProcessCpu(pid);
  std::size_t bytes_before = ReadWhole(stream).size();
  auto wall_before = std::chrono::steady_clock::now();
  platform::SleepMilliseconds(static_cast<int>(seconds * 1000));
  std::optional<double> cpu_after = ProcessCpu(pid);
  std::size_t bytes_after = ReadWhole(stream).size();
  double wall = Seconds(std::chrono::steady_clock::now() - wall_before).count();

  run({"send-keys", "-t", "b", "C-b"});  // cut the stalled connection so the run ends
  for (int i = 0; i < 100 && ProcessCpu(pid); ++i) platform::SleepMilliseconds(50);
  run({"kill-server"});
  if (!cpu_before || !cpu_after || server.ConnectionCount() == 0) {
    std::printf("real binary: no measurement (pid '%s', %d connections)\n", pid.c_str(),
                server.ConnectionCount());
    return;
  }
  Report("real binary in tmux, whole process", *cpu_after - *cpu_before, wall,
         bytes_after - bytes_before);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  if (seconds <= 0) seconds = 10.0;
  SleepOnly(seconds);
  InProcess(seconds);
  RealBinary(seconds);
  return 0;
}
