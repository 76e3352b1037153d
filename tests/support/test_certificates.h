// Certificates made at run time for the TLS tests and the demo: a CA of
// their own and a server certificate it signed, written as PEM files. No
// private key is ever committed. Any thread; each call makes new keys.
#pragma once

#include <string>
#include <vector>

namespace postil::test {

struct CertificateOptions {
  // Subject alternative names: DNS names, or IP addresses (IPv4 or IPv6).
  std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
  // Validity, in days from now (negative: in the past).
  int valid_from_days = -1;
  int valid_to_days = 30;
};

struct TestPki {
  std::string ca_file;           // the CA certificate (PEM), for TlsCaFile
  std::string certificate_file;  // the server certificate (PEM)
  std::string key_file;          // its private key (PEM)
  std::string fingerprint;       // SHA-256 of the server certificate, "AB:CD:..."
};

// Makes a new CA and a server certificate signed by it in `dir` (which must
// exist), file names prefixed by `prefix`. Throws std::runtime_error when
// OpenSSL fails.
TestPki MakeTestPki(const std::string& dir, const CertificateOptions& options = {},
                    const std::string& prefix = "test");

}  // namespace postil::test
