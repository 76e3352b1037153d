#include "support/fake_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "core/channel.h"

namespace postil::test {
namespace {

using Clock = std::chrono::steady_clock;
using Result = FakeConnection::ReadResult;

constexpr int kTimeOutSeconds = 10;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(FakeServerTest, ServesConnectionsInTurnAndRecordsThem) {
  std::atomic<int> timeouts{0};
  FakeServer server([&timeouts](FakeConnection& connection) {
    connection.SendLine("+OK " + std::to_string(connection.index()));
    std::string line;
    Result result;
    while ((result = connection.ReadLine(&line, 300)) != Result::kClosed) {
      if (result == Result::kTimeOut) ++timeouts;
    }
  });
  const char* const sent[] = {"USER a\r\nPASS b\nQU", "QUIT\r\n"};
  for (int i = 0; i < 2; ++i) {
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    std::string line;
    EXPECT_EQ(channel.ReadLine(&line), ReadResult::kLine);
    EXPECT_EQ(line, "+OK " + std::to_string(i));
    EXPECT_TRUE(channel.WriteRaw(sent[i]));
    if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  server.Stop();
  EXPECT_EQ(server.ConnectionCount(), 2);
  const std::vector<ConnectionRecord> records = server.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].bytes, sent[0]);
  EXPECT_EQ(records[0].lines, (std::vector<std::string>{"USER a", "PASS b", "QU"}));
  EXPECT_EQ(records[1].lines, std::vector<std::string>{"QUIT"});
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{"USER a", "PASS b", "QU", "QUIT"}));
  EXPECT_GE(timeouts, 1);  // the unended "QU" waited past the limit, and was kept
}

TEST(FakeServerTest, CloseAfterBytesCutsTheConnectionInsideASend) {
  const struct {
    std::size_t count;
    bool send_result;
    std::vector<std::string> client_lines;
  } cases[] = {
      {0, false, {}},
      {5, false, {"+OK h"}},
      {11, true, {"+OK hello"}},
      {20, true, {"+OK hello", "+OK again"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    std::atomic<bool> first_send{false};
    FakeServer server([&](FakeConnection& connection) {
      connection.CloseAfterBytes(c.count);
      first_send = connection.SendLine("+OK hello");
      connection.SendLine("+OK again");
    });
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    std::vector<std::string> lines;
    std::string line;
    ReadResult result;
    while (HasText(result = channel.ReadLine(&line))) lines.push_back(line);
    EXPECT_EQ(result, ReadResult::kClosed);
    EXPECT_EQ(lines, c.client_lines);
    server.Stop();
    EXPECT_EQ(first_send, c.send_result);
  }
}

TEST(FakeServerTest, StallDelaysTheReply) {
  FakeServer server([](FakeConnection& connection) {
    connection.Stall(300);
    connection.SendLine("+OK late");
  });
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  const auto start = Clock::now();
  std::string line;
  EXPECT_EQ(channel.ReadLine(&line), ReadResult::kLine);
  EXPECT_EQ(line, "+OK late");
  EXPECT_GE(MillisecondsSince(start), 250);
}

// The client stays connected, so only Stop() can end these handlers.
TEST(FakeServerTest, StopEndsBlockedHandlersInBoundedTime) {
  const struct {
    const char* name;
    void (*handler)(FakeConnection&);
    long long limit_ms;
  } cases[] = {
      {"stalled", [](FakeConnection& connection) { connection.StallUntilStopped(); }, 500},
      {"reading",
       [](FakeConnection& connection) {
         std::string line;
         EXPECT_EQ(connection.ReadLine(&line, 60000), Result::kClosed);
       },
       4000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServer server(c.handler);
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    server.Stop();
    EXPECT_LT(MillisecondsSince(start), c.limit_ms);
    EXPECT_EQ(server.ConnectionCount(), 1);
  }
}

}  // namespace
}  // namespace postil::test
