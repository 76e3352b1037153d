// libFuzzer target: the SMTP session's reading of greeting, EHLO/HELO and
// AUTH replies (not a pure function: it runs over an in-memory transport
// that hands out the input as the server's bytes). Whatever the server
// says, the commands sent are a prefix of one valid dialogue, QUIT comes
// last, and a greeting that succeeds has sent the whole AUTH exchange.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "smtp/smtp_session.h"
#include "support/fixed_clock.h"
#include "support/memory_transport.h"

namespace {

class ServerBytes final : public postil::test::MemoryTransport {
 public:
  ServerBytes(std::string_view bytes, std::size_t piece, std::vector<std::string>* sends)
      : bytes_(bytes), piece_(piece), sends_(sends) {}
  std::int64_t Receive(char* buffer, std::size_t size) override {
    std::size_t n = bytes_.copy(buffer, std::min(size, piece_));
    bytes_.remove_prefix(n);
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Send(const char* data, std::size_t size) override {
    sends_->emplace_back(data, size);
    return static_cast<std::int64_t>(size);
  }

 private:
  std::string_view bytes_;
  std::size_t piece_;
  std::vector<std::string>* sends_;
};

bool IsPrefix(const std::vector<std::string>& sent, const std::vector<std::string>& dialogue) {
  if (sent.size() > dialogue.size()) return false;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (sent[i] != dialogue[i] + "\r\n") return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::FixedClock clock(test::SampleTime());
  if (size == 0) return 0;
  // First byte: the piece size of each receive and whether to authenticate.
  std::size_t piece = data[0] % 64 + 1;
  bool authenticate = data[0] & 0x80;
  RunState state(clock);
  Config config;
  SmtpAccount account;
  account.User = authenticate ? "anna" : "";
  account.Password = "pw";
  std::vector<std::string> sent;
  std::string_view server(reinterpret_cast<const char*>(data + 1), size - 1);
  bool greeted = false;
  {
    SmtpSession session(state, config, account,
                        std::make_unique<ServerBytes>(server, piece, &sent));
    std::string reply;
    if (session.SmtpConnect()) greeted = session.SmtpGreet("example.org", &reply);
    session.SmtpQuit();
  }
  if (!sent.empty() && sent.back() == "QUIT\r\n") sent.pop_back();
  const std::vector<std::vector<std::string>> dialogues = {
      {"HELO example.org"},
      {"EHLO example.org", "AUTH PLAIN", "AGFubmEAcHc="},
      {"EHLO example.org", "AUTH LOGIN", "YW5uYQ==", "cHc="},
  };
  bool in_step = false;
  for (const auto& dialogue : dialogues) {
    if (IsPrefix(sent, dialogue) && (!greeted || sent.size() == dialogue.size())) in_step = true;
  }
  if (!in_step) std::abort();
  return 0;
}
