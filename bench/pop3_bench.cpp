// Mail collection against the fake POP3 server on loopback: the real binary
// fetches and deletes three mailboxes (1,000 x 10 KB, 20 x 1 MB, 1 x 100 MB)
// and polls a mailbox of 1,000 messages it keeps on the server and has all
// seen before. The figures are printed: messages and MB per second (first
// TOP to QUIT, so the session's final sync counts), the peak resident
// memory of the program, where the time of one message goes, and the
// syncs of a session (counted by strace, when installed, in a second run).
// With "tls" the same runs go over TLS from the first byte.
//
// The split comes from the server's timeline: the time the server spends
// on a command (receive to reply sent) plus the loopback hop is the round
// trip; the gaps in which the server waits for the client's next command
// are the client's time, of which the durable commit (sync, rename,
// directory sync, measured here on its own for the same file size) is the
// sync share and the rest is the program's own work.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "support/fake_pop3_server.h"
#include "support/host_dir.h"
#include "support/test_certificates.h"

namespace postil {
namespace {

using Clock = std::chrono::steady_clock;
using test::FakePop3Server;

constexpr std::size_t kLineBytes = 77;  // 76 characters and LF
constexpr int kSyncSamples = 50;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string MakeMessage(int number, std::size_t size) {
  std::string text = "From: Bench <bench@example.org>\nTo: me@example.org\nSubject: Message " +
                     std::to_string(number) + "\nMessage-ID: <" + std::to_string(number) +
                     "@bench>\n\n";
  const std::string line = std::string(kLineBytes - 1, 'x') + "\n";
  while (text.size() + kLineBytes <= size) text += line;
  return text;
}

// Server-side timeline of one run.
struct Timeline {
  std::mutex mutex;
  Clock::time_point first_top{}, last_dele_sent{}, quit_received{};
  Clock::time_point retr_received{}, retr_sent{}, dele_received{};  // of the last message
  Clock::duration server_time{};  // receive to reply sent, summed over message commands
  Clock::time_point received{};
  bool in_messages = false;

  // With the mutex held.
  void Reset() {
    first_top = last_dele_sent = quit_received = retr_received = retr_sent = dele_received = {};
    server_time = {};
    in_messages = false;
  }
};

void Watch(FakePop3Server& server, Timeline& t) {
  server.SetCommandHook([&t](const std::string& command) {
    std::lock_guard lock(t.mutex);
    t.received = Clock::now();
    if (command.rfind("TOP ", 0) == 0 && !t.in_messages) {
      t.in_messages = true;
      t.first_top = t.received;
    }
    if (command.rfind("RETR ", 0) == 0) t.retr_received = t.received;
    if (command.rfind("DELE ", 0) == 0) t.dele_received = t.received;
    if (command == "QUIT") t.quit_received = t.received;
  });
  server.SetSentHook([&t](const std::string& command) {
    std::lock_guard lock(t.mutex);
    Clock::time_point now = Clock::now();
    if (t.in_messages && command != "QUIT") t.server_time += now - t.received;
    if (command.rfind("RETR ", 0) == 0) t.retr_sent = now;
    if (command.rfind("DELE ", 0) == 0) t.last_dele_sent = now;
  });
}

// The child's figures from /proc, polled while it runs: the peak resident
// set of the program itself (the rusage of a forked child also counts the
// parent's pages from before the exec) and its CPU time.
class ChildWatcher {
 public:
  explicit ChildWatcher(std::string name) : name_(std::move(name)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(child_.empty() ? 1 : 10));
      }
    });
  }
  ~ChildWatcher() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  long long peak_kb() const { return peak_kb_; }
  // USER_HZ is 100 on Linux.
  double user_seconds() const { return user_ticks_ / 100.0; }
  double system_seconds() const { return system_ticks_ / 100.0; }

 private:
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The child is looked for among all processes until found; then only its
  // own files are read, so the watching costs next to nothing.
  void Poll() {
    if (child_.empty()) child_ = FindChild();
    if (child_.empty()) return;
    std::string stat = Read(child_ / "stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return;
    std::istringstream fields(stat.substr(close + 2));
    std::string skip;
    long long utime = 0, stime = 0;
    for (int i = 0; i < 11; ++i) fields >> skip;
    fields >> utime >> stime;
    if (utime > user_ticks_) user_ticks_ = utime;
    if (stime > system_ticks_) system_ticks_ = stime;
    std::string status = Read(child_ / "status");
    std::size_t hwm = status.find("VmHWM:");
    if (hwm == std::string::npos) return;
    long long kb = std::stoll(status.substr(hwm + 6));
    if (kb > peak_kb_) peak_kb_ = kb;
  }

  std::filesystem::path FindChild() const {
    static const std::string self = [] {
      std::string stat = Read("/proc/self/stat");
      return stat.substr(0, stat.find(' '));
    }();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
      std::string stat = Read(entry.path() / "stat");
      std::size_t close = stat.rfind(')');
      if (close == std::string::npos || stat.find("(" + name_ + ")") == std::string::npos) continue;
      std::istringstream fields(stat.substr(close + 2));
      std::string state, ppid;
      fields >> state >> ppid;
      if (ppid == self) return entry.path();
    }
    return {};
  }

  std::string name_;
  std::filesystem::path child_;  // used by the watching thread only
  std::atomic<bool> stop_{false};
  std::atomic<long long> peak_kb_{0};
  std::atomic<long long> user_ticks_{0};
  std::atomic<long long> system_ticks_{0};
  std::thread thread_;
};

// What one durable spool file of this size costs on this disk: create,
// write, sync, rename, directory sync.
double SyncSeconds(std::size_t size, const test::HostDir& dir) {
  std::string bytes(size, 'x');
  int samples = size > (16u << 20) ? 3 : kSyncSamples;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < samples; ++i) {
    std::string name = dir.PathOf("SYNC" + std::to_string(i));
    platform::DurableFile file;
    file.Create(name, name + ".tmp", nullptr);
    file.Write(bytes);
    file.Commit(nullptr);
    platform::RemoveFile(name, nullptr);
  }
  return Seconds(Clock::now() - start) / samples;
}

struct Case {
  const char* title;
  int count;
  std::size_t size;
  bool tls;
  bool keep = false;  // keep on server, and every message seen by an earlier run
};

// The sync calls of one run of `argv`, counted by strace; -1 when strace is
// not there. Only those calls are stopped, so the run keeps its pace.
int CountSyncs(std::vector<std::string> argv, const platform::ProcessOptions& options,
               const test::HostDir& dir) {
  const std::string strace = "/usr/bin/strace";
  if (!platform::FileExists(strace)) return -1;
  const std::string out = dir.PathOf("strace.txt");
  argv.insert(argv.begin(), {strace, "-f", "-qq", "--seccomp-bpf", "-c", "-o", out, "-e",
                             "trace=fsync,fdatasync,syncfs,sync,sync_file_range"});
  platform::RunProcess(argv, options);
  std::istringstream lines(dir.Read("strace.txt"));
  int syncs = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string percent, seconds, usecs, calls;
    // "% time  seconds  usecs/call  calls  [errors]  syscall"; the total
    // line is left out.
    if (words >> percent >> seconds >> usecs >> calls && line.find("total") == std::string::npos &&
        std::isdigit(static_cast<unsigned char>(calls[0])))
      syncs += std::stoi(calls);
  }
  return syncs;
}

void RunCase(const Case& c) {
  std::vector<std::string> messages;
  std::uint64_t bytes = 0;
  for (int i = 1; i <= c.count; ++i) {
    messages.push_back(MakeMessage(i, c.size));
    bytes += messages.back().size();
  }
  test::HostDir dir;
  FakePop3Server::Options server_options;
  std::string tls_settings;
  if (c.tls) {
    const test::TestPki pki = test::MakeTestPki(dir.path());
    server_options.tls = {pki.certificate_file, pki.key_file};
    server_options.implicit_tls = true;
    tls_settings = "$Pop3Tls=tls\r\n$TlsCaFile=" + pki.ca_file + "\r\n";
  }
  FakePop3Server server(messages, server_options);
  server.SetRecording(false);
  Timeline timeline;
  Watch(server, timeline);
  dir.Write("POSTIL.CFG",
            tls_settings + "$Pop3Server=127.0.0.1\r\n$Pop3Port=" + std::to_string(server.port()) +
                "\r\n$Pop3User=user\r\n$Pop3Pass=secret\r\n$Pop3Spool=IN\r\n"
                "$Pop3MaxLen=0\r\n$Pop3TimeOut=60\r\n$SmtpServer=disabled\r\n" +
                (c.keep ? "$Pop3Keep=on\r\n" : "$Pop3Keep=off\r\n"));
  dir.MakeDir("IN");

  platform::ProcessOptions options;
  options.working_dir = dir.path();
  options.time_limit_ms = 600000;
  const std::vector<std::string> argv = {POSTIL_BINARY, "POSTIL.CFG"};
  if (c.keep) {
    // The first run sees every message; the one measured finds them known.
    platform::RunProcess(argv, options);
    std::lock_guard lock(timeline.mutex);
    timeline.Reset();
  }
  double sync_before = SyncSeconds(c.size, dir);
  ChildWatcher watcher("postil");
  Clock::time_point start = Clock::now();
  platform::ProcessResult result = platform::RunProcess(argv, options);
  double total = Seconds(Clock::now() - start);
  watcher.Stop();
  std::size_t files = dir.List("IN").size();
  double sync = (sync_before + SyncSeconds(c.size, dir)) / 2;
  const bool emptied = server.Mailbox().empty();
  {
    // The same mailbox once more, for the syncs of the session.
    FakePop3Server again(messages, server_options);
    again.SetRecording(false);
    test::HostDir count_dir;
    count_dir.Write("POSTIL.CFG", dir.Read("POSTIL.CFG"));
    std::string config = count_dir.Read("POSTIL.CFG");
    const std::string port = "$Pop3Port=" + std::to_string(server.port());
    config.replace(config.find(port), port.size(), "$Pop3Port=" + std::to_string(again.port()));
    count_dir.Write("POSTIL.CFG", config);
    count_dir.MakeDir("IN");
    if (c.keep) count_dir.Write("POSTIL.IDX", dir.Read("POSTIL.IDX"));
    platform::ProcessOptions count_options = options;
    count_options.working_dir = count_dir.path();
    const int syncs = CountSyncs(argv, count_options, count_dir);
    server.Stop();
    again.Stop();
    std::printf("%s%s\n", c.title, c.tls ? ", over TLS" : "");
    if (syncs < 0)
      std::printf("  syncs in the run: not counted (no strace)\n");
    else
      std::printf("  syncs in the run: %d\n", syncs);
  }

  std::lock_guard lock(timeline.mutex);
  const int count = c.count;
  double messages_time = Seconds(timeline.quit_received - timeline.first_top);
  double per_message = messages_time / count;
  double server_time = Seconds(timeline.server_time) / count;
  std::printf("  exit code %d, %zu spool files, %s\n", result.exit_code, files,
              c.keep ? (emptied ? "MAILBOX EMPTIED" : "mailbox kept")
                     : (emptied ? "mailbox emptied" : "MAILBOX NOT EMPTY"));
  std::printf("  whole run %.3f s (process start, login and end included)\n", total);
  std::printf("  messages  %.3f s (first TOP to QUIT): %.0f messages/s, %.1f MB/s\n", messages_time,
              count / messages_time, c.keep ? 0.0 : bytes / 1e6 / messages_time);
  double user = watcher.user_seconds() / count;
  double system = watcher.system_seconds() / count;
  std::printf("  peak resident memory %lld KB; CPU time %.2f s user, %.2f s system\n",
              watcher.peak_kb(), watcher.user_seconds(), watcher.system_seconds());
  if (c.keep) return;
  std::printf("  one durable file of this size on its own: %.3f ms\n", sync * 1e3);
  // For one big message the server's sending and the program's copying
  // overlap, so only the copy rate says something there.
  if (count > 1) {
    std::printf(
        "  one message %.3f ms: server and wire %.3f ms, program %.3f ms user CPU and "
        "%.3f ms in the kernel, waiting %.3f ms\n",
        per_message * 1e3, server_time * 1e3, user * 1e3, system * 1e3,
        (per_message - server_time - user - system) * 1e3);
  } else {
    double copy = Seconds(timeline.retr_sent - timeline.retr_received);
    double after = Seconds(timeline.quit_received - timeline.retr_sent);
    std::printf("  RETR copy %.3f s = %.1f MB/s; RETR end to QUIT (final sync) %.3f s\n", copy,
                bytes / 1e6 / copy, after);
  }
}

}  // namespace
}  // namespace postil

// Without an argument every case; "small", "medium", "large" or "repoll"
// picks one (for a profiler); "tls" anywhere runs them over TLS.
int main(int argc, char** argv) {
  std::string only;
  bool tls = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "tls")
      tls = true;
    else
      only = word;
  }
  if (only.empty() || only == "small")
    postil::RunCase({"1,000 messages of 10 KB", 1000, 10 * 1024, tls});
  if (only.empty() || only == "medium")
    postil::RunCase({"20 messages of 1 MB", 20, 1024 * 1024, tls});
  if (only.empty() || only == "large")
    postil::RunCase({"1 message of 100 MB", 1, 100 * 1024 * 1024, tls});
  if (only.empty() || only == "repoll")
    postil::RunCase(
        {"Keep on server: 1,000 messages of 10 KB, all seen before", 1000, 10 * 1024, tls, true});
  return 0;
}
