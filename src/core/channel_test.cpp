#include "core/channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/run_state.h"
#include "support/fake_server.h"
#include "support/host_dir.h"
#include "support/memory_transport.h"
#include "support/slow_relay.h"
#include "support/test_certificates.h"
#include "support/test_system.h"

namespace postil {
namespace {

using std::chrono::milliseconds;
using test::FakeConnection;
using test::FakeServer;
using Clock = std::chrono::steady_clock;

constexpr int kTimeOutSeconds = 10;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Hands out the received pieces one per Receive, then reports the peer
// closed; records every Send.
class ScriptedTransport final : public test::MemoryTransport {
 public:
  ScriptedTransport(std::vector<std::string> pieces, std::vector<std::string>* sends)
      : pieces_(std::move(pieces)), sends_(sends) {}
  std::int64_t Receive(char* buffer, std::size_t size) override {
    if (next_ == pieces_.size()) return 0;
    const std::string& piece = pieces_[next_++];
    EXPECT_LE(piece.size(), size);
    piece.copy(buffer, size);
    return static_cast<std::int64_t>(piece.size());
  }
  std::int64_t Send(const char* data, std::size_t size) override {
    sends_->emplace_back(data, size);
    return static_cast<std::int64_t>(size);
  }

 private:
  std::vector<std::string> pieces_;
  std::size_t next_ = 0;
  std::vector<std::string>* sends_;
};

// Every line up to the end of data; checks that the end reads as failure.
std::vector<std::string> ReadAllLines(Channel& channel) {
  std::vector<std::string> lines;
  std::string line;
  ReadResult result;
  while (HasText(result = channel.ReadLine(&line))) lines.push_back(line);
  EXPECT_EQ(result, ReadResult::kClosed);
  EXPECT_EQ(line, "");
  EXPECT_EQ(channel.ReadLine(&line), ReadResult::kClosed);
  EXPECT_EQ(line, "");
  return lines;
}

std::vector<std::string> ReadScripted(std::vector<std::string> pieces) {
  std::vector<std::string> sends;
  Channel channel(std::make_unique<ScriptedTransport>(std::move(pieces), &sends));
  channel.OpenChannel("scripted", 1, kTimeOutSeconds);
  return ReadAllLines(channel);
}

// A server that sends `bytes` and closes.
FakeServer SendingServer(const std::string& bytes) {
  return FakeServer([bytes](FakeConnection& connection) { connection.SendRaw(bytes); });
}

struct LineCase {
  std::string input;
  std::vector<std::string> lines;
};

const std::vector<LineCase> kLineCases = {
    {"+OK ready\r\nUSER a\n", {"+OK ready", "USER a"}},
    {"a\rb\r\n\r\r\n", {"ab", ""}},
    {"\n\r\n", {"", ""}},
    {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    {"first\nlast", {"first", "last"}},
    {"last\r", {"last"}},
    {"", {}},
};

TEST(ChannelTest, LinesReadTheSameWholeOverLoopbackAndSplitAtEveryByte) {
  for (const LineCase& c : kLineCases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    FakeServer server = SendingServer(c.input);
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    EXPECT_EQ(ReadAllLines(channel), c.lines);
    for (std::size_t split = 1; split < c.input.size(); ++split) {
      SCOPED_TRACE(split);
      EXPECT_EQ(ReadScripted({c.input.substr(0, split), c.input.substr(split)}), c.lines);
    }
    std::vector<std::string> bytes;
    for (char byte : c.input) bytes.emplace_back(1, byte);
    EXPECT_EQ(ReadScripted(bytes), c.lines);
  }
}

// A readable TLS stream may not hold a whole record yet: the channel waits
// again instead of taking it for an error.
constexpr std::string_view kStutteredPieces[] = {"+OK", " ready\r\n", "second\r\n"};

TEST(ChannelTest, AReadThatMustWaitAgainIsNoFailure) {
  class Stuttering final : public test::MemoryTransport {
   public:
    std::int64_t Receive(char* buffer, std::size_t size) override {
      again_ = !again_;
      if (again_) return kReceiveAgain;
      if (next_ == std::size(kStutteredPieces)) return 0;
      const std::string_view piece = kStutteredPieces[next_++];
      return static_cast<std::int64_t>(piece.copy(buffer, size));
    }
    std::int64_t Send(const char*, std::size_t size) override {
      return static_cast<std::int64_t>(size);
    }

   private:
    bool again_ = false;
    std::size_t next_ = 0;
  };
  Channel channel(std::make_unique<Stuttering>());
  channel.OpenChannel("scripted", 1, kTimeOutSeconds);
  EXPECT_EQ(ReadAllLines(channel), (std::vector<std::string>{"+OK ready", "second"}));
}

// What a read handed out: the text and whether it starts and ends a line.
struct Piece {
  std::string text;
  bool starts;
  bool ends;
  bool operator==(const Piece&) const = default;
  friend void PrintTo(const Piece& p, std::ostream* os) {
    *os << p.text.size() << " bytes starting '" << p.text.substr(0, 3) << "'"
        << (p.starts ? " starts" : "") << (p.ends ? " ends" : "");
  }
};

std::vector<Piece> ReadAllPieces(Channel& channel) {
  std::vector<Piece> pieces;
  std::string text;
  for (ReadResult result; HasText(result = channel.ReadLine(&text));)
    pieces.push_back({text, channel.StartsLine(), result == ReadResult::kLine});
  return pieces;
}

// A line longer than the buffer comes in pieces that say so, whether the
// bytes arrive whole or split anywhere, CR LF included.
TEST(ChannelTest, LongLinesComeInPiecesThatSaySo) {
  constexpr std::size_t kMax = Channel::kBufferSize;
  const struct {
    std::size_t length;
    std::vector<std::size_t> pieces;
  } cases[] = {
      {kMax - 1, {kMax - 1}},
      {kMax, {kMax}},  // its CR LF still ends it: no empty piece after it
      {kMax + 1, {kMax, 1}},
      {2 * kMax + 10, {kMax, kMax, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string input = std::string(c.length, 'x') + "\r\n.\r\n";
    std::vector<Piece> expected;
    for (std::size_t i = 0; i < c.pieces.size(); ++i)
      expected.push_back({std::string(c.pieces[i], 'x'), i == 0, i + 1 == c.pieces.size()});
    expected.push_back({".", true, true});
    FakeServer server = SendingServer(input);
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    EXPECT_EQ(ReadAllPieces(channel), expected);
    for (std::size_t split : {kMax - 2, kMax - 1, kMax, c.length, c.length + 1}) {
      if (split > kMax || split >= input.size()) continue;
      SCOPED_TRACE(split);
      // The first receive ends at `split`, the later ones take what fits.
      std::vector<std::string> receives = {input.substr(0, split)};
      for (std::size_t at = split; at < input.size(); at += kMax) receives.push_back(input.substr(at, kMax));
      std::vector<std::string> sends;
      Channel scripted(std::make_unique<ScriptedTransport>(std::move(receives), &sends));
      scripted.OpenChannel("scripted", 1, kTimeOutSeconds);
      EXPECT_EQ(ReadAllPieces(scripted), expected);
    }
  }
}

// A reply is the start of a line: the rest of a long line is dropped, and
// neither it nor the rest of an earlier line is ever a reply of its own.
TEST(ChannelTest, ReplyLinesDropTheRestOfALongLine) {
  constexpr std::size_t kMax = Channel::kBufferSize;
  const std::string head(kMax, 'r');
  FakeServer server = SendingServer(head + ".\r\n+OK forged\r\n" + head + "+OK\r\n-ERR real\r\n");
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  std::string line;
  EXPECT_EQ(channel.ReadReplyLine(&line), ReadResult::kLine);
  EXPECT_EQ(line, head);
  EXPECT_EQ(channel.ReadReplyLine(&line), ReadResult::kLine);
  EXPECT_EQ(line, "+OK forged");
  EXPECT_EQ(channel.ReadLine(&line), ReadResult::kPiece);  // a piece read by itself ...
  EXPECT_EQ(channel.ReadReplyLine(&line), ReadResult::kLine);  // ... leaves no reply behind
  EXPECT_EQ(line, "-ERR real");
}

// A time-out of 0 could neither wait nor be endless: it is the shortest
// time-out, one second.
TEST(ChannelTest, SilentServerTimesOutAfterTheConfiguredSeconds) {
  for (const int time_out : {1, 0}) {
    SCOPED_TRACE(time_out);
    FakeServer server([](FakeConnection& connection) {
      connection.SendRaw("partial");
      connection.StallUntilStopped();
    });
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), time_out);
    std::string line;

    // Bytes before the time-out are a piece of a line; nothing at all is a
    // time-out.
    auto start = Clock::now();
    EXPECT_EQ(channel.ReadLine(&line), ReadResult::kPiece);
    EXPECT_EQ(line, "partial");
    EXPECT_GE(MillisecondsSince(start), 900);

    start = Clock::now();
    EXPECT_EQ(channel.ReadLine(&line), ReadResult::kTimedOut);
    EXPECT_EQ(line, "");
    EXPECT_GE(MillisecondsSince(start), 900);
    EXPECT_LT(MillisecondsSince(start), 3000);
  }
}

// A reply the time-out cut short is taken as it is, and its line ends
// there: the reply that follows is read as a reply, not as its rest. A
// line of data goes on after a time-out.
TEST(ChannelTest, ATimeOutEndsAReplyLineButNotADataLine) {
  for (const bool reply : {true, false}) {
    SCOPED_TRACE(reply ? "reply" : "data");
    FakeServer server([](FakeConnection& connection) {
      connection.SendRaw("+OK ready");
      std::string command;
      if (connection.ReadLine(&command) == FakeConnection::ReadResult::kLine)
        connection.SendRaw("+OK " + command + "\r\n");
      connection.StallUntilStopped();
    });
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), 1);
    std::string line;
    const auto start = Clock::now();
    EXPECT_EQ(reply ? channel.ReadReplyLine(&line) : channel.ReadLine(&line),
              reply ? ReadResult::kLine : ReadResult::kPiece);
    EXPECT_EQ(line, "+OK ready");
    EXPECT_LT(MillisecondsSince(start), 1900);  // one time-out, not two
    ASSERT_TRUE(channel.WriteLine("USER a"));
    EXPECT_EQ(reply ? channel.ReadReplyLine(&line) : channel.ReadLine(&line), ReadResult::kLine);
    EXPECT_EQ(line, "+OK USER a");
    EXPECT_EQ(channel.StartsLine(), reply);
  }
}

TEST(ChannelTest, UnreachableServerLeavesTheChannelUnconnected) {
  int closed_port = 0;
  {
    FakeServer gone([](FakeConnection&) {});
    closed_port = gone.port();
  }
  const struct {
    const char* host;
    int port;
  } cases[] = {{"127.0.0.1", closed_port}, {"127.0.0.1", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + std::string(":") + std::to_string(c.port));
    Channel channel;
    channel.OpenChannel(c.host, c.port, 1);
    EXPECT_EQ(channel.ChannelSocket(), 0);
    std::string line = "old";
    EXPECT_EQ(channel.ReadLine(&line), ReadResult::kFailed);
    EXPECT_EQ(line, "");
    EXPECT_FALSE(channel.WriteLine("QUIT"));
    EXPECT_FALSE(channel.WriteRaw("x"));
    channel.CloseChannel();
  }
}

// A name that does not resolve, through the transport seam: no test asks
// the system's resolver, which would send the query off this machine.
TEST(ChannelTest, UnresolvedNameLeavesTheChannelUnconnected) {
  Channel channel(MakeTcpTransport([](std::string_view, std::string* err) {
    *err = "Name or service not known";
    return std::vector<std::string>{};
  }));
  channel.OpenChannel("no.such.host", 110, 1);
  EXPECT_EQ(channel.ChannelSocket(), 0);
  std::string line = "old";
  EXPECT_EQ(channel.ReadReplyLine(&line), ReadResult::kFailed);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(channel.WriteLine("QUIT"));
  EXPECT_EQ(channel.LastConnectError().failure, ConnectFailure::kNameNotResolved);
  EXPECT_EQ(channel.LastConnectError().detail, "Name or service not known");
}

// Each wait has its time-out, and the whole exchange a bound: a server that
// trickles bytes just inside the time-out is cut off, and says why; the
// next command starts a new exchange (which drops the rest of the line).
TEST(ChannelTest, AnExchangeIsBoundedAsAWhole) {
  FakeServer server([](FakeConnection& connection) {
    for (int i = 0; i < 20 && connection.SendRaw("x"); ++i) connection.Stall(300);
    connection.SendRaw("\r\n");
    std::string line;
    connection.ReadLine(&line);
    connection.SendLine("+OK next");
    connection.StallUntilStopped();
  });
  Channel channel;
  std::int64_t noticed = -1;
  channel.SetBoundNotice([&noticed](std::int64_t seconds) { noticed = seconds; });
  channel.OpenChannel("127.0.0.1", server.port(), 1);
  std::string line;
  const auto start = Clock::now();
  int pieces = 0;
  ReadResult result;
  while (HasText(result = channel.ReadLine(&line)) && pieces < 100) ++pieces;
  EXPECT_EQ(result, ReadResult::kFailed);
  EXPECT_TRUE(channel.BoundHit());
  EXPECT_EQ(noticed, Channel::kExchangeTimeOuts);
  EXPECT_GE(MillisecondsSince(start), Channel::kExchangeTimeOuts * 1000 - 100);
  EXPECT_LT(MillisecondsSince(start), Channel::kExchangeTimeOuts * 1000 + 1500);
  EXPECT_TRUE(channel.WriteLine("NOOP"));
  EXPECT_EQ(channel.ReadReplyLine(&line), ReadResult::kLine);
  EXPECT_EQ(line, "+OK next");
}

TEST(ChannelTest, WritesReachTheWireExactly) {
  FakeServer server([](FakeConnection& connection) {
    std::string line;
    while (connection.ReadLine(&line) == FakeConnection::ReadResult::kLine) {
    }
  });
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  EXPECT_NE(channel.ChannelSocket(), 0);
  EXPECT_EQ(channel.LocalIpAddress(), "127.0.0.1");
  EXPECT_TRUE(channel.WriteLine("USER a"));
  EXPECT_TRUE(channel.WriteRaw("body\r\n.."));
  EXPECT_TRUE(channel.WriteRaw(""));
  EXPECT_TRUE(channel.WriteLine(""));
  channel.CloseChannel();
  EXPECT_EQ(channel.ChannelSocket(), 0);
  server.Stop();
  ASSERT_EQ(server.Records().size(), 1u);
  EXPECT_EQ(server.Records()[0].bytes, "USER a\r\nbody\r\n..\r\n");
}

TEST(ChannelTest, WriteLineIsOneSend) {
  std::vector<std::string> sends;
  Channel channel(std::make_unique<ScriptedTransport>(std::vector<std::string>{}, &sends));
  channel.OpenChannel("scripted", 1, kTimeOutSeconds);
  EXPECT_TRUE(channel.WriteLine("RETR 1"));
  EXPECT_EQ(sends, std::vector<std::string>{"RETR 1\r\n"});
}

TEST(ChannelTest, WriteRawTimesOutWhenThePeerTakesNothing) {
  FakeServer server([](FakeConnection& connection) { connection.StallUntilStopped(); });
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), 1);
  const std::string big(64 << 20, 'x');  // far more than the socket buffers hold
  const auto start = Clock::now();
  EXPECT_FALSE(channel.WriteRaw(big));
  EXPECT_GE(MillisecondsSince(start), 900);
  EXPECT_LT(MillisecondsSince(start), 5000);
}

// A slow link brings a TLS record in pieces, each well inside the time-out,
// the whole record taking longer than one: the bytes that arrive keep the
// wait going, as they do without TLS, within the exchange's bound.
TEST(ChannelTest, ASlowLinkIsNoTimeOutWithOrWithoutTls) {
  const bool with_tls = test::TlsServerMissing().empty();
  const test::HostDir certificates;
  const test::TestPki pki = with_tls ? test::MakeTestPki(certificates.path()) : test::TestPki{};
  const std::string line(3000, 'x');  // one TLS record of about 3 KB: 1.5 s at 2 KB/s
  for (bool secured : {false, with_tls}) {
    SCOPED_TRACE(secured ? "over TLS" : "plain");
    test::FakeServerOptions options;
    options.implicit_tls = secured;
    options.tls = {pki.certificate_file, pki.key_file};
    FakeServer server(
        [&line](FakeConnection& connection) {
          std::string command;
          if (connection.ReadLine(&command) != FakeConnection::ReadResult::kLine) return;
          connection.SendRaw(line + "\r\n+OK next\r\n");
          connection.StallUntilStopped();
        },
        options);
    test::SlowRelay relay(server.port(), 200, 100);
    ASSERT_TRUE(relay.ok());
    Channel channel;
    channel.OpenChannel("127.0.0.1", relay.port(), 1);
    if (secured) {
      ASSERT_TRUE(channel.SecureChannel({"127.0.0.1", pki.ca_file, ""}));
    }
    relay.Slow();
    ASSERT_TRUE(channel.WriteLine("RETR 1"));
    const auto start = Clock::now();
    std::string text;
    EXPECT_EQ(channel.ReadLine(&text), ReadResult::kLine);
    EXPECT_TRUE(text == line) << text.size() << " bytes";
    EXPECT_GE(MillisecondsSince(start), 1200);  // slower than one time-out
    EXPECT_EQ(channel.ReadReplyLine(&text), ReadResult::kLine);
    EXPECT_EQ(text, "+OK next");
  }
}

// The kill keys abort through the run state's slot from another thread; the
// owner's wait must end at once and the owner still closes.
TEST(ChannelTest, AbortEndsThePendingWaitAtOnce) {
  const struct {
    const char* name;
    bool (*wait)(Channel&);
  } cases[] = {
      {"ReadLine", [](Channel& channel) {
         std::string line;
         return HasText(channel.ReadLine(&line)) || !line.empty();
       }},
      {"WriteRaw", [](Channel& channel) { return channel.WriteRaw(std::string(64 << 20, 'x')); }},
  };
  // Where no test server can secure its end, the plain connection only.
  const bool with_tls = test::TlsServerMissing().empty();
  const test::HostDir certificates;
  const test::TestPki pki = with_tls ? test::MakeTestPki(certificates.path()) : test::TestPki{};
  for (const auto& c : cases) {
    for (bool secured : {false, with_tls}) {
      SCOPED_TRACE(std::string(c.name) + (secured ? " over TLS" : ""));
      test::FakeServerOptions options;
      options.implicit_tls = secured;
      options.tls = {pki.certificate_file, pki.key_file};
      FakeServer server([](FakeConnection& connection) { connection.StallUntilStopped(); }, options);
      Channel channel;
      channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
      if (secured) {
        ASSERT_TRUE(channel.SecureChannel({"127.0.0.1", pki.ca_file, ""}));
      }
      ConnectionSlot slot;
      slot.Attach(&channel);
      std::thread killer([&slot] {
        std::this_thread::sleep_for(milliseconds(200));
        slot.Abort();
      });
      const auto start = Clock::now();
      EXPECT_FALSE(c.wait(channel));
      EXPECT_LT(MillisecondsSince(start), 2000);
      killer.join();
      std::string line;
      EXPECT_FALSE(HasText(channel.ReadLine(&line)));
      EXPECT_FALSE(channel.WriteLine("QUIT"));
      slot.Detach();
      channel.CloseChannel();
      EXPECT_EQ(channel.ChannelSocket(), 0);
    }
  }
}

// Whatever came with the go-ahead for TLS was not protected: a reply
// injected there must never be read as if it came over TLS.
// The client fails on the injected bytes before the server's handshake
// matters: runs wherever certificates can be made.
TEST(ChannelTest, BytesBeforeTheHandshakeFailIt) {
  const test::HostDir certificates;
  const test::TestPki pki = test::MakeTestPki(certificates.path());
  test::FakeServerOptions options;
  options.tls = {pki.certificate_file, pki.key_file};
  FakeServer server(
      [](FakeConnection& connection) {
        connection.SendRaw("+OK begin TLS\r\n+OK injected\r\n");
        if (connection.StartTls()) connection.StallUntilStopped();
      },
      options);
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  std::string line;
  ASSERT_EQ(channel.ReadReplyLine(&line), ReadResult::kLine);
  EXPECT_FALSE(channel.SecureChannel({"127.0.0.1", pki.ca_file, ""}));
  EXPECT_EQ(channel.LastConnectError().failure, ConnectFailure::kTlsHandshake);
  EXPECT_FALSE(channel.IsSecured());
}

TEST(ChannelTest, AbortRacingTheOwnersCloseIsSafe) {
  FakeServer server([](FakeConnection& connection) { connection.SendLine("+OK"); });
  for (int round = 0; round < 20; ++round) {
    Channel channel;
    channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
    std::thread killer([&channel] { channel.Abort(); });
    channel.CloseChannel();
    killer.join();
    EXPECT_EQ(channel.ChannelSocket(), 0);
  }
}

TEST(ChannelTest, ReopenAfterAbortWorks) {
  FakeServer server([](FakeConnection& connection) { connection.SendLine("+OK hi"); });
  Channel channel;
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  channel.Abort();
  channel.CloseChannel();
  channel.OpenChannel("127.0.0.1", server.port(), kTimeOutSeconds);
  std::string line;
  EXPECT_EQ(channel.ReadLine(&line), ReadResult::kLine);
  EXPECT_EQ(line, "+OK hi");
}

}  // namespace
}  // namespace postil
