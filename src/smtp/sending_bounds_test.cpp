// The bounds on how long an SMTP server may hold the sender: the reserve of
// the replies as arithmetic, and the data of a message sent to a server
// that reads it a few bytes at a time, which only an in-memory server can
// pace exactly.
#include "smtp/sending_bounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/run_state.h"
#include "e2e/smtp_fixture.h"
#include "platform/clock.h"
#include "smtp/outgoing_spool.h"
#include "smtp/smtp_session.h"
#include "support/fixed_clock.h"
#include "support/memory_transport.h"

namespace postil {
namespace {

struct Line {
  std::int64_t ms;
  bool begins_reply = true;
};

struct ReserveCase {
  const char* name;
  std::int64_t time_out_ms;
  std::vector<Line> lines;
  int given_up_at;  // index of the line that uses the reserve up; -1: none
};

std::vector<Line> Repeat(Line line, int count) { return std::vector<Line>(count, line); }

std::vector<Line> Join(const std::vector<std::vector<Line>>& parts) {
  std::vector<Line> lines;
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

TEST(ReplyReserveTest, TakesFromTheReserveWhatRepliesTakeBeyondOneTimeOut) {
  const ReserveCase cases[] = {
      {"within the time-out, never", 1000, Repeat({999}, 200), -1},
      {"dribbled just within the channel's bound", 1000, Repeat({3500}, 5), 1},
      {"late by all of the reserve", 1000, {{2500}, {2500}, {1000}}, -1},
      {"late by one millisecond more", 1000, {{2500}, {2500}, {1001}}, 2},
      {"quicker replies fill it up again", 1000,
       Join({{{2500}}, Repeat({100}, 3), {{2500}, {2500}}}), -1},
      {"but not beyond its size", 1000, Join({Repeat({0}, 50), {{3500}, {3500}}}), 51},
      {"the lines after a reply's first earn nothing", 1000,
       Join({{{50}}, Repeat({50, false}, 99)}), 80},
      {"once used up, quick replies do not help", 1000, Join({Repeat({3500}, 2), {{1}}}), 1},
      {"no time-out, no bound", 0, Repeat({100000}, 3), -1},
  };
  for (const ReserveCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyReserve reserve(c.time_out_ms);
    int given_up_at = -1;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      const bool within = reserve.Took(c.lines[i].ms, c.lines[i].begins_reply);
      if (given_up_at >= 0) {
        EXPECT_FALSE(within) << i;
      }
      if (!within && given_up_at < 0) given_up_at = static_cast<int>(i);
    }
    EXPECT_EQ(given_up_at, c.given_up_at);
  }
}

TEST(DataAllowedMillisecondsTest, GrowsBySecondsForEveryMinimumRateOfBytes) {
  EXPECT_EQ(DataAllowedMilliseconds(1000, 0), 4000);
  EXPECT_EQ(DataAllowedMilliseconds(1000, kDataMinimumRate - 1), 4999);
  EXPECT_EQ(DataAllowedMilliseconds(15000, 10 * kDataMinimumRate), 70000);
}

// Answers every command at once; takes the data of a message ten bytes
// after each wait for room of 100 ms, 100 bytes a second.
class SlowReader final : public test::MemoryTransport {
 public:
  static constexpr std::size_t kBytesPerWait = 10;
  static constexpr int kWaitMs = 100;

  bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) override {
    pending_ = "220 x\r\n";
    return MemoryTransport::Connect(host, port, time_out_ms, err);
  }
  std::int64_t Receive(char* buffer, std::size_t size) override {
    const std::size_t n = pending_.copy(buffer, size);
    pending_.erase(0, n);
    return static_cast<std::int64_t>(n);
  }
  WaitResult WaitWritable(int time_out_ms) override {
    platform::SleepMilliseconds(std::min(time_out_ms, kWaitMs));
    room_ = time_out_ms >= kWaitMs;
    return room_ ? WaitResult::kReady : WaitResult::kTimeOut;
  }
  std::int64_t Send(const char* data, std::size_t size) override {
    if (in_data_) {
      if (!room_) return 0;
      room_ = false;
      size = std::min(size, kBytesPerWait);
      data_.append(data, size);
      if (data_.ends_with("\r\n.\r\n")) {
        in_data_ = false;
        pending_ += "250 x\r\n";
      }
      return static_cast<std::int64_t>(size);
    }
    commands_.append(data, size);
    for (std::size_t end; (end = commands_.find("\r\n")) != std::string::npos;) {
      const std::string command = commands_.substr(0, end);
      commands_.erase(0, end + 2);
      in_data_ = command == "DATA";
      pending_ += in_data_ ? "354 x\r\n" : command == "QUIT" ? "221 x\r\n" : "250 x\r\n";
    }
    return static_cast<std::int64_t>(size);
  }
  const std::string& data() const { return data_; }

 private:
  std::string pending_;
  std::string commands_;
  std::string data_;
  bool in_data_ = false;
  bool room_ = false;
};

TEST(DataBoundTest, AServerThatReadsTheDataSlowlyIsGivenUp) {
  test::HostDir dir;
  const std::filesystem::path old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  test::FixedClock clock{test::SampleTime()};
  // 2,000 bytes of body: 20 s at 100 bytes a second, where the bound allows
  // 4 s and a second for every 1,024 bytes.
  std::string file = "From x\nFrom: a@b\nTo: c@d\n\n";
  for (int i = 0; i < 20; ++i) file += std::string(98, 'x') + "\n";
  dir.Write("OUT/M0001.OUT", file);
  auto transport = std::make_unique<SlowReader>();
  const SlowReader& server = *transport;  // lives as long as the session
  std::string data_taken;
  bool sent = true;
  bool error_flag = false;
  std::chrono::steady_clock::duration took{};
  {
    RunState state(clock);
    state.log.SetupLog(std::nullopt);
    Config config;
    SmtpAccount account;
    account.Server = "127.0.0.1";
    account.SpoolDir = "OUT\\";
    account.TimeOut = 1;
    SmtpSession session(state, config, account, std::move(transport));
    ASSERT_TRUE(session.SmtpConnect());
    const auto start = std::chrono::steady_clock::now();
    sent = SendSpoolFile(session, "M0001.OUT");
    took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(session.IsOpen());
    data_taken = server.data();
    error_flag = state.SmtpErrorFlag;
    state.log.CloseLogs();
  }
  std::filesystem::current_path(old_dir);

  EXPECT_FALSE(sent);
  EXPECT_TRUE(error_flag);
  EXPECT_LT(took, std::chrono::seconds(7));
  EXPECT_EQ(dir.Read("OUT/M0001.OUT"), file);
  EXPECT_TRUE(data_taken.starts_with("From: a@b\r\nTo: c@d\r\n\r\nxxx")) << data_taken;
  EXPECT_FALSE(data_taken.ends_with("\r\n.\r\n"));
  const std::vector<std::string> log = test::SmtpLogLines(dir.Read("QUIL.LOG"));
  EXPECT_EQ(test::LogFrom(log, "- Mail to: <c@d>", 3),
            (std::vector<std::string>{"- Mail to: <c@d>",
                                      "? Message data not taken within 4 seconds, connection "
                                      "given up",
                                      "? Error sending: OUT\\M0001.OUT"}))
      << dir.Read("QUIL.LOG");
}

}  // namespace
}  // namespace postil
