// Shared by the Schannel TLS backend only (tls_schannel*.cpp): certificates
// and keys through crypt32 and bcrypt. PEM files in, checked server
// certificates and presentable server certificates out. Any thread; each
// object belongs to the session that made it.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/transport.h"

namespace postil::platform {

struct CertificateFree {
  void operator()(const CERT_CONTEXT* certificate) const {
    CertFreeCertificateContext(certificate);
  }
};
using CertificatePtr = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// The DER bodies of the PEM blocks labelled `label` ("CERTIFICATE") in
// `text`, in order; false when a block is cut or not Base64.
bool PemBlocks(std::string_view text, const std::string& label,
               std::vector<std::vector<BYTE>>* blocks);
// The same from the file at `path` (see ReadPemText); false with the
// reason, naming the file, in `err`.
bool ReadPemFile(const std::string& path, const std::string& label,
                 std::vector<std::vector<BYTE>>* blocks, std::string* err);

// True when `text` is an IPv4 or IPv6 address, not a name.
bool IsAddressText(const std::string& text);

// SHA-256 of the certificate's DER, "AB:CD:..."; empty when it cannot be hashed.
std::string CertificateFingerprint(const CERT_CONTEXT* certificate);

// The certificate's subject on one line, most specific part first
// ("CN=localhost"), control characters escaped: it may reach a log line.
std::string CertificateSubject(const CERT_CONTEXT* certificate);

// Checks the server's `certificate` (the chain it sent in its store) as
// `settings` say: the pinned fingerprint alone, or chain, name and dates.
bool CheckServerCertificate(const CERT_CONTEXT* certificate, const TlsClientSettings& settings,
                            ConnectError* err);

// A server certificate with its private key imported into a key container
// of its own, which lives as long as this object.
class ServerCertificate {
 public:
  ServerCertificate() = default;
  ~ServerCertificate();
  ServerCertificate(const ServerCertificate&) = delete;
  ServerCertificate& operator=(const ServerCertificate&) = delete;

  // Loads the PEM files (an RSA key: "RSA PRIVATE KEY" or "PRIVATE KEY");
  // false with the reason in `err`.
  bool Load(const TlsServerSettings& settings, std::string* err);
  const CERT_CONTEXT* get() const { return certificate_.get(); }

 private:
  bool ImportKey(const std::vector<BYTE>& private_key_blob, std::string* err);

  CertificatePtr certificate_;
  std::wstring container_;
  HCRYPTPROV provider_ = 0;
};

}  // namespace postil::platform
