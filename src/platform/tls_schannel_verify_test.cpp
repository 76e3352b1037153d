// The server certificate checks of the Schannel backend, without a server:
// each case hands the checks the certificate a server would send.
#include <gtest/gtest.h>

#include <cctype>

#include "platform/tls_schannel_pki.h"
#include "support/host_dir.h"
#include "support/test_certificates.h"

namespace postil::platform {
namespace {

struct StoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};

// The certificate of `pki` as a server sends it: alone in a store of its own.
class SentCertificate {
 public:
  explicit SentCertificate(const test::TestPki& pki)
      : store_(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr)) {
    std::vector<std::vector<BYTE>> blocks;
    std::string err;
    EXPECT_TRUE(ReadPemFile(pki.certificate_file, "CERTIFICATE", &blocks, &err)) << err;
    EXPECT_EQ(blocks.size(), 1u);
    const CERT_CONTEXT* added = nullptr;
    if (!blocks.empty()) {
      EXPECT_TRUE(CertAddEncodedCertificateToStore(
          store_.get(), X509_ASN_ENCODING, blocks[0].data(), static_cast<DWORD>(blocks[0].size()),
          CERT_STORE_ADD_NEW, &added));
    }
    certificate_.reset(added);
  }
  const CERT_CONTEXT* get() const { return certificate_.get(); }

 private:
  std::unique_ptr<void, StoreClose> store_;
  CertificatePtr certificate_;
};

enum class Pin { kNone, kRight, kRightLowerWithColons, kWrong };
enum class Ca { kOwn, kStranger, kSystem };

std::string PinFor(const std::string& fingerprint, Pin pin) {
  std::string text;
  for (const char ch : fingerprint) {
    if (pin == Pin::kRightLowerWithColons) text += static_cast<char>(std::tolower(ch));
    if ((pin == Pin::kRight || pin == Pin::kWrong) && ch != ':') text += ch;
  }
  if (pin == Pin::kWrong) text[0] = text[0] == 'A' ? 'B' : 'A';
  return text;
}

TEST(SchannelCertificateChecks, DecideAsTheSettingsSay) {
  using Failure = ConnectFailure;
  struct Case {
    const char* what;
    const test::TestPki* sent;
    Ca ca;
    const char* server_name;
    Pin pin;
    Failure failure;
    const char* detail;  // nullptr: the certificate's fingerprint
  };
  const test::HostDir dir;
  const auto make = [&dir](const char* prefix, const test::CertificateOptions& options) {
    return test::MakeTestPki(dir.path(), options, prefix);
  };
  const test::TestPki stranger_pki = make("stranger", {});
  const test::TestPki standard_pki = make("standard", {});
  const test::TestPki elsewhere_pki = make("elsewhere", {{"other.example"}, -1, 30});
  const test::TestPki expired_pki = make("expired", {{"localhost", "127.0.0.1"}, -10, -1});
  const test::TestPki not_yet_pki = make("not_yet", {{"localhost", "127.0.0.1"}, 2, 30});
  const test::TestPki elsewhere_expired_pki =
      make("elsewhere_expired", {{"other.example"}, -10, -1});
  const auto* standard = &standard_pki;
  const auto* elsewhere = &elsewhere_pki;
  const auto* expired = &expired_pki;
  const auto* not_yet = &not_yet_pki;
  const Case cases[] = {
      {"trusted name", standard, Ca::kOwn, "localhost", Pin::kNone, Failure::kNone, ""},
      {"trusted IPv4", standard, Ca::kOwn, "127.0.0.1", Pin::kNone, Failure::kNone, ""},
      {"trusted IPv6", standard, Ca::kOwn, "::1", Pin::kNone, Failure::kNone, ""},
      {"unknown CA", standard, Ca::kStranger, "localhost", Pin::kNone,
       Failure::kCertificateNotTrusted, "unable to get local issuer certificate"},
      // The system's store does not know the test CA either.
      {"system store", standard, Ca::kSystem, "localhost", Pin::kNone,
       Failure::kCertificateNotTrusted, "unable to get local issuer certificate"},
      {"other name", elsewhere, Ca::kOwn, "localhost", Pin::kNone, Failure::kNameMismatch,
       "hostname mismatch"},
      {"other address", elsewhere, Ca::kOwn, "127.0.0.1", Pin::kNone, Failure::kNameMismatch,
       "IP address mismatch"},
      {"address not in the certificate", standard, Ca::kOwn, "127.0.0.2", Pin::kNone,
       Failure::kNameMismatch, "IP address mismatch"},
      {"expired", expired, Ca::kOwn, "localhost", Pin::kNone, Failure::kCertificateNotTrusted,
       "certificate has expired"},
      {"not yet valid", not_yet, Ca::kOwn, "localhost", Pin::kNone, Failure::kCertificateNotTrusted,
       "certificate is not yet valid"},
      {"untrusted and elsewhere: trust is named first", elsewhere, Ca::kStranger, "localhost",
       Pin::kNone, Failure::kCertificateNotTrusted, "unable to get local issuer certificate"},
      {"elsewhere and expired: the name is named first", &elsewhere_expired_pki, Ca::kOwn,
       "localhost", Pin::kNone, Failure::kNameMismatch, "hostname mismatch"},
      {"pinned, unknown CA and name", elsewhere, Ca::kStranger, "localhost", Pin::kRight,
       Failure::kNone, ""},
      {"pinned, other spelling", elsewhere, Ca::kStranger, "localhost", Pin::kRightLowerWithColons,
       Failure::kNone, ""},
      {"pinned wrong", standard, Ca::kOwn, "localhost", Pin::kWrong, Failure::kFingerprintMismatch,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TestPki& pki = *c.sent;
    const SentCertificate sent(pki);
    ASSERT_NE(sent.get(), nullptr);
    const std::string ca = c.ca == Ca::kOwn        ? pki.ca_file
                           : c.ca == Ca::kStranger ? stranger_pki.ca_file
                                                   : "";
    ConnectError err;
    EXPECT_EQ(CheckServerCertificate(sent.get(),
                                     {c.server_name, ca, PinFor(pki.fingerprint, c.pin)}, &err),
              c.failure == Failure::kNone);
    EXPECT_EQ(err.failure, c.failure);
    EXPECT_EQ(err.detail, c.detail != nullptr ? c.detail : pki.fingerprint);
  }
}

TEST(SchannelCertificateChecks, AnUnreadableCaFileTrustsNothing) {
  const test::HostDir dir;
  const test::TestPki pki = test::MakeTestPki(dir.path());
  const SentCertificate sent(pki);
  // A file with no certificate in it, and one that is not there.
  for (const std::string& ca : {pki.key_file, dir.path() + "/missing.pem"}) {
    SCOPED_TRACE(ca);
    ConnectError err;
    EXPECT_FALSE(CheckServerCertificate(sent.get(), {"localhost", ca, ""}, &err));
    EXPECT_EQ(err.failure, ConnectFailure::kCertificateNotTrusted);
    EXPECT_TRUE(err.detail.starts_with("cannot load CA certificates " + ca + ": ")) << err.detail;
  }
}

TEST(SchannelCertificateChecks, DescribeTheCertificateForTheLog) {
  const test::HostDir dir;
  const test::TestPki pki = test::MakeTestPki(dir.path(), {{"bad\x01name", "localhost"}, -1, 30});
  const SentCertificate sent(pki);
  EXPECT_EQ(CertificateFingerprint(sent.get()), pki.fingerprint);
  EXPECT_EQ(CertificateSubject(sent.get()), "CN=bad\\01name");
}

}  // namespace
}  // namespace postil::platform
