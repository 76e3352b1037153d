#include "support/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/tls_fingerprint.h"

namespace postil::test {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

constexpr long kSecondsPerDay = 24L * 60 * 60;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what + " failed");
}

Pkey MakeKey() {
  Pkey key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key generation");
  return key;
}

// A random 64-bit serial: two runs of the tests never share one, which keeps
// any client-side cache from confusing their certificates.
void SetSerial(X509* cert) {
  ASN1_INTEGER* serial = X509_get_serialNumber(cert);
  BIGNUM* bn = BN_new();
  Check(bn != nullptr && BN_rand(bn, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "serial");
  Check(BN_to_ASN1_INTEGER(bn, serial) != nullptr, "serial");
  BN_free(bn);
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Check(ext != nullptr, "certificate extension");
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  Check(added, "adding an extension");
}

std::string SubjectAltNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ',';
    const bool is_ip = name.find(':') != std::string::npos ||
                       name.find_first_not_of("0123456789.") == std::string::npos;
    text += (is_ip ? "IP:" : "DNS:") + name;
  }
  return text;
}

// A certificate for `common_name` holding `key`, signed by `issuer_key`
// (itself when `issuer` is null).
Cert MakeCertificate(const std::string& common_name, EVP_PKEY* key, X509* issuer,
                     EVP_PKEY* issuer_key, const CertificateOptions& options, bool is_ca) {
  Cert cert(X509_new());
  Check(cert != nullptr, "X509_new");
  Check(X509_set_version(cert.get(), 2) == 1, "version");
  SetSerial(cert.get());
  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()),
                        options.valid_from_days * kSecondsPerDay) != nullptr,
        "notBefore");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), options.valid_to_days * kSecondsPerDay) !=
            nullptr,
        "notAfter");
  X509_NAME* name = X509_get_subject_name(cert.get());
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                   -1, 0) == 1,
        "subject");
  X509* signer = issuer != nullptr ? issuer : cert.get();
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "issuer");
  Check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  if (is_ca) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    if (!options.names.empty()) {
      AddExtension(cert.get(), signer, NID_subject_alt_name, SubjectAltNames(options.names));
    }
  }
  Check(X509_sign(cert.get(), issuer_key, EVP_sha256()) > 0, "signing");
  return cert;
}

std::unique_ptr<std::FILE, FileClose> OpenForWrite(const std::string& path) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
  Check(file != nullptr, ("opening " + path).c_str());
  return file;
}

void WriteCertificate(const std::string& path, X509* cert) {
  auto file = OpenForWrite(path);
  Check(PEM_write_X509(file.get(), cert) == 1, "writing a certificate");
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  auto file = OpenForWrite(path);
  Check(PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing a key");
}

std::string Fingerprint(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Check(X509_digest(cert, EVP_sha256(), digest, &length) == 1, "fingerprint");
  return platform::FingerprintText(digest, length);
}

}  // namespace

TestPki MakeTestPki(const std::string& dir, const CertificateOptions& options,
                    const std::string& prefix) {
  const Pkey ca_key = MakeKey();
  const Cert ca = MakeCertificate(prefix + " test CA", ca_key.get(), nullptr, ca_key.get(),
                                  CertificateOptions{{}, -1, 3650}, true);
  const Pkey key = MakeKey();
  const std::string common_name = options.names.empty() ? prefix : options.names.front();
  const Cert cert = MakeCertificate(common_name, key.get(), ca.get(), ca_key.get(), options, false);

  TestPki pki;
  const std::string base = dir + "/" + prefix;
  pki.ca_file = base + "_ca.pem";
  pki.certificate_file = base + "_cert.pem";
  pki.key_file = base + "_key.pem";
  WriteCertificate(pki.ca_file, ca.get());
  WriteCertificate(pki.certificate_file, cert.get());
  WriteKey(pki.key_file, key.get());
  pki.fingerprint = Fingerprint(cert.get());
  return pki;
}

}  // namespace postil::test
