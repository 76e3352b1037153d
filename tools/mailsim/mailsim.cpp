// mailsim: a POP3 and SMTP server on 127.0.0.1 for trying POSTIL out. It
// serves a mailbox from a directory of message files, accepts mail (with
// AUTH LOGIN or PLAIN for one user) and stores every accepted message as a
// file, can refuse chosen recipients, can pace its replies so a person can
// watch the status panel, and ends by itself after a time limit. Given a
// certificate it offers STLS and STARTTLS and can listen for TLS from the
// first byte as well; it can make a certificate of its own for that.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_pop3_server.h"
#include "support/fake_smtp_server.h"
#include "support/test_certificates.h"

namespace {

namespace fs = std::filesystem;
using postil::test::FakePop3Server;
using postil::test::FakeSmtpServer;

constexpr int kDefaultTimeLimitSeconds = 120;
constexpr int kMaxTimeLimitSeconds = 3600;

const char kUsage[] =
    "Usage: mailsim --mailbox DIR --received DIR [options]\n"
    "       mailsim --make-cert DIR\n"
    "\n"
    "A POP3 and SMTP server on 127.0.0.1 for trying POSTIL out.\n"
    "\n"
    "  --mailbox DIR      serve the files in DIR (sorted by name) as the POP3 mailbox\n"
    "  --received DIR     store every message accepted by SMTP in DIR as NNNN.eml\n"
    "  --pop3-port N      POP3 port (default: any free port)\n"
    "  --smtp-port N      SMTP port (default: any free port)\n"
    "  --user NAME        POP3 and SMTP user (default: user)\n"
    "  --password TEXT    password of that user (default: secret)\n"
    "  --refuse ADDRESS   answer RCPT TO:<ADDRESS> with 550 (may be repeated)\n"
    "  --pace MS          wait MS milliseconds before each reply (default: 0)\n"
    "  --time-limit S     exit after S seconds (default: 120, at most 3600)\n"
    "  --port-file FILE   write \"pop3=N\" and \"smtp=N\" lines to FILE once listening\n"
    "                     (and \"pop3s=N\", \"smtps=N\" for the TLS ports)\n"
    "  --tls-cert FILE    certificate (PEM) to present: the POP3 and SMTP ports then\n"
    "                     offer STLS and STARTTLS\n"
    "  --tls-key FILE     its private key (PEM); needed with --tls-cert\n"
    "  --pop3s-port N     also serve POP3 over TLS from the first byte on port N\n"
    "                     (0: any free port; needs --tls-cert; its own copy of the mailbox)\n"
    "  --smtps-port N     also serve SMTP over TLS from the first byte on port N\n"
    "                     (0: any free port; needs --tls-cert)\n"
    "  --make-cert DIR    make a CA and a certificate for localhost, 127.0.0.1 and ::1\n"
    "                     in DIR, print \"ca=\", \"certificate=\", \"key=\" and\n"
    "                     \"fingerprint=\" lines, and exit\n"
    "\n"
    "Stored messages begin with X-Envelope-From: and X-Envelope-To: lines, then\n"
    "the message as received, without the SMTP dot-stuffing.\n";

struct Settings {
  std::string mailbox;
  std::string received;
  int pop3_port = 0;
  int smtp_port = 0;
  std::string user = "user";
  std::string password = "secret";
  std::vector<std::string> refused;
  int pace_ms = 0;
  int time_limit_s = kDefaultTimeLimitSeconds;
  std::string port_file;
  postil::TlsServerSettings tls;
  int pop3s_port = -1;  // -1: no such listener
  int smtps_port = -1;
  std::string make_cert;
};

bool ParseNumber(const char* text, int max, int* out) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > max) return false;
  *out = static_cast<int>(value);
  return true;
}

bool ParseArguments(int argc, char** argv, Settings* s, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") return false;
    if (i + 1 >= argc) {
      *error = "missing value after " + option;
      return false;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (option == "--mailbox") s->mailbox = value;
    else if (option == "--received") s->received = value;
    else if (option == "--pop3-port") ok = ParseNumber(value, 65535, &s->pop3_port);
    else if (option == "--smtp-port") ok = ParseNumber(value, 65535, &s->smtp_port);
    else if (option == "--user") s->user = value;
    else if (option == "--password") s->password = value;
    else if (option == "--refuse") s->refused.emplace_back(value);
    else if (option == "--pace") ok = ParseNumber(value, 10000, &s->pace_ms);
    else if (option == "--time-limit") ok = ParseNumber(value, kMaxTimeLimitSeconds, &s->time_limit_s);
    else if (option == "--port-file") s->port_file = value;
    else if (option == "--tls-cert") s->tls.certificate_file = value;
    else if (option == "--tls-key") s->tls.key_file = value;
    else if (option == "--pop3s-port") ok = ParseNumber(value, 65535, &s->pop3s_port);
    else if (option == "--smtps-port") ok = ParseNumber(value, 65535, &s->smtps_port);
    else if (option == "--make-cert") s->make_cert = value;
    else {
      *error = "unknown option " + option;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + option + ": " + value;
      return false;
    }
  }
  const bool tls = !s->tls.certificate_file.empty();
  if (!s->make_cert.empty()) {
    if (argc != 3) *error = "--make-cert takes no other option";
  } else if (s->mailbox.empty() || s->received.empty()) {
    *error = "--mailbox and --received are required";
  } else if (tls != !s->tls.key_file.empty()) {
    *error = "--tls-cert and --tls-key go together";
  } else if (!tls && (s->pop3s_port >= 0 || s->smtps_port >= 0)) {
    *error = "--pop3s-port and --smtps-port need --tls-cert";
  }
  return error->empty();
}

std::vector<std::string> LoadMailbox(const std::string& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> messages;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    messages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return messages;
}

// The message as the sender meant it: the final "." line dropped and the
// dot-stuffing of the other lines undone.
std::string Unstuffed(const std::string& data) {
  std::string out;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t lf = data.find('\n', start);
    std::size_t end = lf == std::string::npos ? data.size() : lf + 1;
    std::string_view line(data.data() + start, end - start);
    if (line == ".\r\n" || line == ".\n" || line == ".") break;
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.remove_prefix(1);
    out.append(line);
    start = end;
  }
  return out;
}

void StoreMessage(const std::string& dir, const FakeSmtpServer::Message& message, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d.eml", number);
  std::ofstream out(fs::path(dir) / name, std::ios::binary);
  out << "X-Envelope-From: " << message.mail_from << "\r\n";
  for (const std::string& to : message.rcpt_to) out << "X-Envelope-To: " << to << "\r\n";
  out << Unstuffed(message.data);
}

// Makes the certificate the demo trusts; nothing of it is kept in the tree.
int MakeCertificate(const std::string& dir) {
  fs::create_directories(dir);
  const postil::test::TestPki pki = postil::test::MakeTestPki(dir, {}, "mailsim");
  std::cout << "ca=" << pki.ca_file << "\ncertificate=" << pki.certificate_file
            << "\nkey=" << pki.key_file << "\nfingerprint=" << pki.fingerprint << std::endl;
  return 0;
}

// A POP3 server on `port`: plain with STLS when there is a certificate, or
// TLS from the first byte.
std::unique_ptr<FakePop3Server> StartPop3(const Settings& s, int port, bool implicit_tls) {
  FakePop3Server::Options options;
  options.user = s.user;
  options.password = s.password;
  options.greeting = "+OK mailsim POP3 ready";
  options.port = port;
  options.pace_ms = s.pace_ms;
  options.tls = s.tls;
  options.implicit_tls = implicit_tls;
  options.offer_stls = !implicit_tls && !s.tls.certificate_file.empty();
  return std::make_unique<FakePop3Server>(LoadMailbox(s.mailbox), options);
}

std::unique_ptr<FakeSmtpServer> StartSmtp(const Settings& s, int port, bool implicit_tls,
                                          std::atomic<int>* stored) {
  FakeSmtpServer::Options options;
  options.greeting = {"220 mailsim.local ESMTP ready"};
  options.ehlo = {"250-mailsim.local", "250-AUTH LOGIN PLAIN", "250 8BITMIME"};
  options.user = s.user;
  options.password = s.password;
  options.port = port;
  options.pace_ms = s.pace_ms;
  options.tls = s.tls;
  options.implicit_tls = implicit_tls;
  options.offer_starttls = !implicit_tls && !s.tls.certificate_file.empty();
  auto smtp = std::make_unique<FakeSmtpServer>(options);
  for (const std::string& address : s.refused)
    smtp->AddRule({"RCPT TO:<" + address + ">", {"550 5.1.1 <" + address + ">: mailbox unavailable"}});
  // Both SMTP listeners store into one directory, numbered in one series.
  smtp->OnMessage([&s, stored](const FakeSmtpServer::Message& message) {
    if (message.accepted) StoreMessage(s.received, message, ++*stored);
  });
  return smtp;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::string error;
  if (!ParseArguments(argc, argv, &settings, &error)) {
    if (!error.empty()) std::cerr << "mailsim: " << error << "\n\n";
    std::cerr << kUsage;
    return error.empty() ? 0 : 2;
  }
  try {
    if (!settings.make_cert.empty()) return MakeCertificate(settings.make_cert);
    fs::create_directories(settings.received);
    const bool tls = !settings.tls.certificate_file.empty();
    std::atomic<int> stored{0};
    auto pop3 = StartPop3(settings, settings.pop3_port, false);
    auto smtp = StartSmtp(settings, settings.smtp_port, false, &stored);
    std::unique_ptr<FakePop3Server> pop3s;
    std::unique_ptr<FakeSmtpServer> smtps;
    if (settings.pop3s_port >= 0) pop3s = StartPop3(settings, settings.pop3s_port, true);
    if (settings.smtps_port >= 0) smtps = StartSmtp(settings, settings.smtps_port, true, &stored);

    std::cout << "mailsim: POP3 on 127.0.0.1:" << pop3->port() << (tls ? " with STLS" : "");
    if (pop3s) std::cout << ", POP3 over TLS on 127.0.0.1:" << pop3s->port();
    std::cout << ", SMTP on 127.0.0.1:" << smtp->port() << (tls ? " with STARTTLS" : "");
    if (smtps) std::cout << ", SMTP over TLS on 127.0.0.1:" << smtps->port();
    std::cout << ", ending in " << settings.time_limit_s << " s" << std::endl;
    if (!settings.port_file.empty()) {
      std::ofstream ports(settings.port_file + ".tmp");
      ports << "pop3=" << pop3->port() << "\nsmtp=" << smtp->port() << "\n";
      if (pop3s) ports << "pop3s=" << pop3s->port() << "\n";
      if (smtps) ports << "smtps=" << smtps->port() << "\n";
      ports.close();
      fs::rename(settings.port_file + ".tmp", settings.port_file);
    }
    std::this_thread::sleep_for(std::chrono::seconds(settings.time_limit_s));
    for (FakePop3Server* server : {pop3.get(), pop3s.get()}) {
      if (server) server->Stop();
    }
    for (FakeSmtpServer* server : {smtp.get(), smtps.get()}) {
      if (server) server->Stop();
    }
  } catch (const std::exception& e) {
    std::cerr << "mailsim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
