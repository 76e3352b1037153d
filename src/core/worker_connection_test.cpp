#include "core/worker_connection.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fixed_clock.h"
#include "support/memory_transport.h"

namespace postil {
namespace {

// A server at a given address that says nothing.
class AddressedTransport final : public test::MemoryTransport {
 public:
  explicit AddressedTransport(std::string address) : address_(std::move(address)) {}
  std::int64_t Receive(char*, std::size_t) override { return 0; }
  std::int64_t Send(const char*, std::size_t size) override { return static_cast<std::int64_t>(size); }
  std::string RemoteAddress() const override { return address_; }

 private:
  std::string address_;
};

TEST(WorkerConnection, SecretsAreExposedOnlyOffThisMachineWithoutTls) {
  const struct {
    const char* address;
    bool exposed;
  } cases[] = {
      {"127.0.0.1", false}, {"127.4.5.6", false},   {"::1", false},
      {"::ffff:127.0.0.1", false}, {"192.0.2.7", true}, {"2001:db8::1", true},
      {"::ffff:192.0.2.7", true},
  };
  test::FixedClock clock{test::SampleTime()};
  RunState state{clock};
  const Logger log = state.log.For(LogThread::kPop3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    WorkerConnection connection(state.Pop3Socket, std::make_unique<AddressedTransport>(c.address));
    connection.OpenAndGreet(state, log, MakeConnectionTarget("mail.example", 110, 5, {}, ""),
                            [](Channel&) {});
    EXPECT_EQ(connection.ExposesSecrets(), c.exposed);
  }
}

TEST(WorkerConnection, FailureTextNamesTheServerAndTheCause) {
  test::FixedClock clock{test::SampleTime()};
  RunState state{clock};
  const Logger log = state.log.For(LogThread::kPop3);
  WorkerConnection closed(state.Pop3Socket, std::make_unique<AddressedTransport>("192.0.2.7"));
  closed.OpenAndGreet(state, log, MakeConnectionTarget("mail.example", 110, 5, {}, ""),
                      [](Channel& channel) {
                        std::string line;
                        channel.ReadLine(&line);
                      });
  EXPECT_EQ(closed.FailureText(),
            "Connection to mail.example port 110 failed: connection closed before the greeting");
  closed.channel().SetConnectError({ConnectFailure::kCertificateNotTrusted, "certificate has expired"});
  EXPECT_EQ(closed.FailureText(),
            "Connection to mail.example port 110 failed: certificate not trusted (certificate has "
            "expired)");
  EXPECT_EQ(closed.FailureCause(), "certificate not trusted");
}

}  // namespace
}  // namespace postil
