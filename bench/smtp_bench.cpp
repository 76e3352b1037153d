// Sending the outgoing spool to the fake SMTP server over one connection:
// 1,000 normal spool files of 10 KB and 10 of 5 MB, each with burst on and
// off, and with burst on over TLS from the first byte. Prints messages per
// second, MB/s (from the first connection to the last accepted message) and
// the peak resident memory of the postil run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/fake_smtp_server.h"
#include "support/host_dir.h"
#include "support/test_certificates.h"

namespace {

using postil::test::FakeSmtpServer;
using postil::test::HostDir;
using SteadyClock = std::chrono::steady_clock;

// A normal spool file of about `bytes` bytes with lines of 76 characters.
std::string NormalFile(std::size_t bytes, int number) {
  std::string file = "From bench@example.org Sun Dec  6 09:05:07 2026\n"
                     "From: Bench <bench@example.org>\nTo: sink@example.net\n"
                     "Subject: message " + std::to_string(number) + "\nX-Mailer: bench\n\n";
  std::string line(76, 'x');
  while (file.size() < bytes) {
    line[number % 76] = static_cast<char>('a' + file.size() % 26);
    file += line + "\n";
  }
  return file;
}

struct Figures {
  int messages = 0;
  double seconds = 0;
  double megabytes = 0;
  long long peak_kb = 0;
  int exit_code = -1;
};

Figures Run(int count, std::size_t bytes, bool burst, bool tls) {
  HostDir dir;
  FakeSmtpServer::Options options;
  options.record = false;
  options.keep_data = false;
  std::string tls_settings;
  if (tls) {
    const postil::test::TestPki pki = postil::test::MakeTestPki(dir.path());
    options.tls = {pki.certificate_file, pki.key_file};
    options.implicit_tls = true;
    tls_settings = "SmtpTls=tls\r\nTlsCaFile=" + pki.ca_file + "\r\n";
  }
  FakeSmtpServer server(options);
  std::mutex mutex;
  int accepted = 0;
  std::size_t data_bytes = 0;
  SteadyClock::time_point last;
  server.OnMessage([&](const FakeSmtpServer::Message& message) {
    std::lock_guard lock(mutex);
    ++accepted;
    data_bytes += message.data_size;
    last = SteadyClock::now();
  });

  dir.Write("BENCH.BFG", tls_settings + "Pop3Server=disabled\r\nSmtpServer=127.0.0.1\r\nSmtpPort=" +
                             std::to_string(server.port()) + "\r\nSmtpSpool=OUT\r\n"
                             "SmtpTimeOut=30\r\nSmtpBurst=" + (burst ? "on" : "off") + "\r\n");
  dir.WriteHostExe(true);
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "M%04d.OUT", i);
    dir.Write(std::string("OUT/") + name, NormalFile(bytes, i));
  }

  postil::platform::ProcessOptions process;
  process.working_dir = dir.path();
  process.time_limit_ms = 600000;
  postil::platform::ProcessResult result = postil::platform::RunProcess({POSTIL_BINARY, "BENCH.BFG"}, process);
  server.Stop();

  Figures figures;
  figures.exit_code = result.exit_code;
  figures.peak_kb = result.peak_memory_kb;
  std::lock_guard lock(mutex);
  figures.messages = accepted;
  figures.megabytes = static_cast<double>(data_bytes) / 1e6;
  auto connects = server.ConnectTimes();
  if (!connects.empty()) figures.seconds = std::chrono::duration<double>(last - connects[0]).count();
  return figures;
}

}  // namespace

int main() {
  struct Load {
    const char* name;
    int count;
    std::size_t bytes;
  } loads[] = {{"1000 x 10 KB", 1000, 10 * 1024}, {"10 x 5 MB", 10, 5 * 1024 * 1024}};
  const struct {
    const char* name;
    bool burst;
    bool tls;
  } ways[] = {{"on", true, false}, {"off", false, false}, {"on TLS", true, true}};
  std::printf("%-14s %-7s %9s %9s %12s %9s %11s %5s\n", "load", "burst", "messages", "seconds",
              "messages/s", "MB/s", "peak RSS MB", "exit");
  for (const Load& load : loads) {
    for (const auto& way : ways) {
      Figures f = Run(load.count, load.bytes, way.burst, way.tls);
      std::printf("%-14s %-7s %9d %9.3f %12.1f %9.1f %11.1f %5d\n", load.name, way.name,
                  f.messages, f.seconds, f.seconds > 0 ? f.messages / f.seconds : 0.0,
                  f.seconds > 0 ? f.megabytes / f.seconds : 0.0, f.peak_kb / 1024.0, f.exit_code);
    }
  }
  return 0;
}
