#include "smtp/body_sender.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "core/run_state.h"
#include "smtp/smtp_session.h"
#include "support/fixed_clock.h"
#include "support/memory_transport.h"

namespace postil {
namespace {

// A transport that greets once and records the size of every send.
class RecordingTransport final : public test::MemoryTransport {
 public:
  explicit RecordingTransport(std::vector<std::size_t>* sends) : sends_(sends) {}
  std::int64_t Receive(char* buffer, std::size_t size) override {
    std::string_view greeting = "220 ok\r\n";
    if (greeted_ || size < greeting.size()) return 0;
    greeted_ = true;
    greeting.copy(buffer, greeting.size());
    return static_cast<std::int64_t>(greeting.size());
  }
  std::int64_t Send(const char*, std::size_t size) override {
    if (fail_) return -1;
    sends_->push_back(size);
    return static_cast<std::int64_t>(size);
  }
  void Shutdown() override { fail_ = true; }

 private:
  std::vector<std::size_t>* sends_;
  bool greeted_ = false;
  bool fail_ = false;
};

struct Sent {
  std::vector<std::size_t> pieces;
  std::uint64_t counted = 0;
};

// Sends `lines` 100-byte lines (98 bytes + CR LF) as a body, the last one final.
Sent SendBody(bool burst, int lines) {
  test::FixedClock clock(test::SampleTime());
  RunState state(clock);
  Config config;
  SmtpAccount account;
  account.Server = "test";
  std::vector<std::size_t> sends;
  SmtpSession session(state, config, account, std::make_unique<RecordingTransport>(&sends));
  EXPECT_TRUE(session.SmtpConnect());
  state.SentBytes = 0;
  BodySender body(session, burst);
  for (int i = 0; i < lines; ++i) EXPECT_TRUE(body.SendBodyLine(std::string(98, 'x'), i + 1 == lines));
  return {sends, state.SentBytes};
}

TEST(BodySender, BurstSendsPiecesJustOver2048BytesAndTheLastWithTheFinalLine) {
  // 21 lines make 2,100 bytes, the first length past 2,048.
  Sent sent = SendBody(true, 50);
  EXPECT_EQ(sent.pieces, (std::vector<std::size_t>{2100, 2100, 800}));
  // The final piece counts what was buffered before the last line.
  EXPECT_EQ(sent.counted, 2100u + 2100u + 700u);
}

TEST(BodySender, WithoutBurstEveryLineIsOneSend) {
  Sent sent = SendBody(false, 3);
  EXPECT_EQ(sent.pieces, (std::vector<std::size_t>{100, 100, 100}));
  EXPECT_EQ(sent.counted, 3u * 99u);
}

TEST(BodySender, DotLineFlushesTheBuffer) {
  test::FixedClock clock(test::SampleTime());
  RunState state(clock);
  Config config;
  SmtpAccount account;
  std::vector<std::size_t> sends;
  SmtpSession session(state, config, account, std::make_unique<RecordingTransport>(&sends));
  ASSERT_TRUE(session.SmtpConnect());
  BodySender body(session, true);
  EXPECT_TRUE(body.SendBodyLine("abc", false));
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(body.SendBodyLine(".", false));
  EXPECT_EQ(sends, std::vector<std::size_t>{8});
}

}  // namespace
}  // namespace postil
