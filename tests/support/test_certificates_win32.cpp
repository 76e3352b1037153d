// The test PKI made with the system's CryptoAPI: RSA keys (the key form the
// system's TLS can present on every version), certificates encoded and
// signed by crypt32, written as the same PEM files as elsewhere.
#include <winsock2.h>
#include <ws2tcpip.h>
// After the Winsock headers, which must come before windows.h.
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/tls_fingerprint.h"
#include "support/test_certificates.h"

namespace postil::test {
namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kKeyBits = 2048;
constexpr long long kTicksPerDay = 24LL * 60 * 60 * 10'000'000;  // FILETIME counts 100 ns

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test certificate: ") + what + " failed (error " +
                             std::to_string(GetLastError()) + ")");
  }
}

Bytes DerElement(BYTE tag, const Bytes& body) {
  Bytes der = {tag};
  if (body.size() < 0x80) {
    der.push_back(static_cast<BYTE>(body.size()));
  } else {
    Bytes length;
    for (std::size_t n = body.size(); n > 0; n >>= 8) length.insert(length.begin(), BYTE(n));
    der.push_back(static_cast<BYTE>(0x80 | length.size()));
    der.insert(der.end(), length.begin(), length.end());
  }
  der.insert(der.end(), body.begin(), body.end());
  return der;
}

// A DER INTEGER of the unsigned little-endian `value`.
Bytes DerInteger(const Bytes& little_endian) {
  Bytes big(little_endian.rbegin(), little_endian.rend());
  while (big.size() > 1 && big.front() == 0) big.erase(big.begin());
  if (big.empty() || (big.front() & 0x80) != 0) big.insert(big.begin(), 0);
  return DerElement(0x02, big);
}

// A key pair that lives only as long as the provider handle: nothing is
// left in the system's key containers.
class KeyPair {
 public:
  KeyPair() {
    Check(CryptAcquireContextW(&provider_, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                               CRYPT_VERIFYCONTEXT | CRYPT_SILENT),
          "opening the RSA provider");
    Check(CryptGenKey(provider_, AT_SIGNATURE, (kKeyBits << 16) | CRYPT_EXPORTABLE, &key_),
          "RSA key generation");
  }
  ~KeyPair() {
    if (key_ != 0) CryptDestroyKey(key_);
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
  }
  KeyPair(const KeyPair&) = delete;
  KeyPair& operator=(const KeyPair&) = delete;

  HCRYPTPROV provider() const { return provider_; }

  // The public half as a certificate carries it.
  Bytes PublicKeyInfo() const {
    DWORD size = 0;
    Check(CryptExportPublicKeyInfo(provider_, AT_SIGNATURE, X509_ASN_ENCODING, nullptr, &size),
          "public key export");
    Bytes info(size);
    Check(CryptExportPublicKeyInfo(provider_, AT_SIGNATURE, X509_ASN_ENCODING,
                                   reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &size),
          "public key export");
    return info;
  }

  // The private key as PKCS #1 DER (RSAPrivateKey), written out here: not
  // every crypt32 encodes one.
  Bytes PrivateKeyDer() const {
    DWORD size = 0;
    Check(CryptExportKey(key_, 0, PRIVATEKEYBLOB, 0, nullptr, &size), "private key export");
    Bytes blob(size);
    Check(CryptExportKey(key_, 0, PRIVATEKEYBLOB, 0, blob.data(), &size), "private key export");
    const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    const BYTE* at = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    const DWORD full = rsa->bitlen / 8;
    const DWORD half = rsa->bitlen / 16;
    Check(size >= sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 2 * full + 5 * half, "private key size");
    // The blob's order: modulus, p, q, dp, dq, qinv, d, each little-endian.
    const auto take = [&at](DWORD length) {
      Bytes value(at, at + length);
      at += length;
      return value;
    };
    const DWORD e = rsa->pubexp;
    const Bytes exponent = {BYTE(e), BYTE(e >> 8), BYTE(e >> 16), BYTE(e >> 24)};
    const Bytes modulus = take(full);
    const Bytes p = take(half), q = take(half), dp = take(half), dq = take(half);
    const Bytes qinv = take(half), d = take(full);
    Bytes body = DerInteger({0});
    for (const Bytes* value : {&modulus, &exponent, &d, &p, &q, &dp, &dq, &qinv}) {
      const Bytes integer = DerInteger(*value);
      body.insert(body.end(), integer.begin(), integer.end());
    }
    return DerElement(0x30, body);
  }

  static Bytes Encode(LPCSTR type, const void* value, const char* what) {
    DWORD size = 0;
    Check(CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, nullptr, &size), what);
    Bytes der(size);
    Check(CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, der.data(), &size), what);
    der.resize(size);
    return der;
  }

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTKEY key_ = 0;
};

Bytes Sha1(const Bytes& data) {
  BYTE digest[20];
  DWORD size = sizeof digest;
  Check(CryptHashCertificate(0, CALG_SHA1, 0, data.data(), static_cast<DWORD>(data.size()), digest,
                             &size),
        "key identifier");
  return Bytes(digest, digest + size);
}

// The key identifier of a public key: the SHA-1 of its bits.
Bytes KeyIdentifier(const Bytes& public_key_info) {
  const auto* info = reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(public_key_info.data());
  return Sha1(Bytes(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData));
}

Bytes EncodeName(const std::string& common_name) {
  CERT_RDN_ATTR attribute{};
  attribute.pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
  attribute.dwValueType = CERT_RDN_UTF8_STRING;
  const std::wstring wide(common_name.begin(), common_name.end());
  attribute.Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(wide.c_str()));
  attribute.Value.cbData = 0;  // up to the terminating zero
  CERT_RDN rdn{1, &attribute};
  CERT_NAME_INFO name{1, &rdn};
  return KeyPair::Encode(X509_NAME, &name, "subject");
}

bool IsIpAddress(const std::string& name) {
  return name.find(':') != std::string::npos ||
         name.find_first_not_of("0123456789.") == std::string::npos;
}

// The network byte order form of an IPv4 or IPv6 address text.
Bytes AddressBytes(const std::string& text) {
  const std::wstring wide(text.begin(), text.end());
  sockaddr_storage storage{};
  int size = sizeof storage;
  const int family = text.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  Check(WSAStringToAddressW(const_cast<wchar_t*>(wide.c_str()), family, nullptr,
                            reinterpret_cast<sockaddr*>(&storage), &size) == 0,
        "address in a certificate");
  if (family == AF_INET) {
    const auto* v4 =
        reinterpret_cast<const BYTE*>(&reinterpret_cast<sockaddr_in*>(&storage)->sin_addr);
    return Bytes(v4, v4 + 4);
  }
  const auto* v6 =
      reinterpret_cast<const BYTE*>(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr);
  return Bytes(v6, v6 + 16);
}

Bytes EncodeAltNames(const std::vector<std::string>& names) {
  std::vector<std::wstring> dns;
  std::vector<Bytes> addresses;
  dns.reserve(names.size());
  addresses.reserve(names.size());
  std::vector<CERT_ALT_NAME_ENTRY> entries;
  for (const std::string& name : names) {
    CERT_ALT_NAME_ENTRY entry{};
    if (IsIpAddress(name)) {
      addresses.push_back(AddressBytes(name));
      entry.dwAltNameChoice = CERT_ALT_NAME_IP_ADDRESS;
      entry.IPAddress = {static_cast<DWORD>(addresses.back().size()), addresses.back().data()};
    } else {
      dns.emplace_back(name.begin(), name.end());
      entry.dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
      entry.pwszDNSName = const_cast<wchar_t*>(dns.back().c_str());
    }
    entries.push_back(entry);
  }
  CERT_ALT_NAME_INFO info{static_cast<DWORD>(entries.size()), entries.data()};
  return KeyPair::Encode(X509_ALTERNATE_NAME, &info, "subject alternative names");
}

FILETIME DaysFromNow(int days) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
  ticks.QuadPart += static_cast<ULONGLONG>(days * kTicksPerDay);
  return {ticks.LowPart, ticks.HighPart};
}

// What a certificate says of itself beyond its names and key.
struct Extensions {
  std::vector<Bytes> values;
  std::vector<CERT_EXTENSION> list;

  void Add(LPCSTR oid, bool critical, Bytes value) {
    values.push_back(std::move(value));
    list.push_back({const_cast<LPSTR>(oid),
                    critical,
                    {static_cast<DWORD>(values.back().size()), values.back().data()}});
  }
};

Extensions MakeExtensions(const Bytes& key_id, const Bytes* issuer_key_id,
                          const CertificateOptions& options) {
  Extensions extensions;
  extensions.values.reserve(5);
  CERT_BASIC_CONSTRAINTS2_INFO basic{issuer_key_id == nullptr, FALSE, 0};
  extensions.Add(szOID_BASIC_CONSTRAINTS2, true,
                 KeyPair::Encode(X509_BASIC_CONSTRAINTS2, &basic, "basic constraints"));
  CRYPT_DATA_BLOB id{static_cast<DWORD>(key_id.size()), const_cast<BYTE*>(key_id.data())};
  extensions.Add(szOID_SUBJECT_KEY_IDENTIFIER, false,
                 KeyPair::Encode(X509_OCTET_STRING, &id, "key identifier"));
  if (issuer_key_id == nullptr) {
    BYTE usage = CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE;
    CRYPT_BIT_BLOB bits{1, &usage, 1};
    extensions.Add(szOID_KEY_USAGE, true, KeyPair::Encode(X509_KEY_USAGE, &bits, "key usage"));
    return extensions;
  }
  LPSTR server_auth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_ENHKEY_USAGE usage{1, &server_auth};
  extensions.Add(szOID_ENHANCED_KEY_USAGE, false,
                 KeyPair::Encode(X509_ENHANCED_KEY_USAGE, &usage, "extended key usage"));
  CERT_AUTHORITY_KEY_ID2_INFO authority{};
  authority.KeyId = {static_cast<DWORD>(issuer_key_id->size()),
                     const_cast<BYTE*>(issuer_key_id->data())};
  extensions.Add(szOID_AUTHORITY_KEY_IDENTIFIER2, false,
                 KeyPair::Encode(X509_AUTHORITY_KEY_ID2, &authority, "authority key identifier"));
  if (!options.names.empty()) {
    extensions.Add(szOID_SUBJECT_ALT_NAME2, false, EncodeAltNames(options.names));
  }
  return extensions;
}

// A random positive 64-bit serial (little-endian, as crypt32 keeps
// integers): two runs never share one, so no cache confuses them.
Bytes RandomSerial(HCRYPTPROV provider) {
  Bytes serial(8);
  Check(CryptGenRandom(provider, static_cast<DWORD>(serial.size()), serial.data()), "serial");
  serial.back() = static_cast<BYTE>((serial.back() & 0x7F) | 0x40);
  return serial;
}

// The DER certificate for `subject` holding `key`, signed by `signer`
// (named `issuer`); a CA when `issuer_key_id` is null (self-signed).
Bytes MakeCertificate(const std::string& subject, const KeyPair& key, const KeyPair& signer,
                      const std::string& issuer, const Bytes* issuer_key_id,
                      const CertificateOptions& options) {
  const Bytes public_key = key.PublicKeyInfo();
  const Bytes key_id = KeyIdentifier(public_key);
  Bytes serial = RandomSerial(key.provider());
  Bytes subject_name = EncodeName(subject);
  Bytes issuer_name = EncodeName(issuer);
  Extensions extensions = MakeExtensions(key_id, issuer_key_id, options);

  CERT_INFO info{};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
  info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
  info.Issuer = {static_cast<DWORD>(issuer_name.size()), issuer_name.data()};
  info.NotBefore = DaysFromNow(options.valid_from_days);
  info.NotAfter = DaysFromNow(options.valid_to_days);
  info.Subject = {static_cast<DWORD>(subject_name.size()), subject_name.data()};
  info.SubjectPublicKeyInfo = *reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(public_key.data());
  info.cExtension = static_cast<DWORD>(extensions.list.size());
  info.rgExtension = extensions.list.data();

  CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(szOID_RSA_SHA256RSA), {0, nullptr}};
  DWORD size = 0;
  Check(CryptSignAndEncodeCertificate(signer.provider(), AT_SIGNATURE, X509_ASN_ENCODING,
                                      X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr, nullptr,
                                      &size),
        "signing");
  Bytes der(size);
  Check(CryptSignAndEncodeCertificate(signer.provider(), AT_SIGNATURE, X509_ASN_ENCODING,
                                      X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr,
                                      der.data(), &size),
        "signing");
  der.resize(size);
  return der;
}

Bytes SubjectKeyId(const KeyPair& key) { return KeyIdentifier(key.PublicKeyInfo()); }

// PEM as OpenSSL writes it: 64 base64 characters a line, LF line ends.
void WritePem(const std::string& path, const char* label, const Bytes& der) {
  DWORD size = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  Check(CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, nullptr, &size),
        "base64");
  std::string base64(size, '\0');
  Check(
      CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, base64.data(), &size),
      "base64");
  base64.resize(size);
  std::string text = std::string("-----BEGIN ") + label + "-----\n";
  for (std::size_t i = 0; i < base64.size(); i += 64) text += base64.substr(i, 64) + "\n";
  text += std::string("-----END ") + label + "-----\n";
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  Check(file != nullptr, ("opening " + path).c_str());
  Check(std::fwrite(text.data(), 1, text.size(), file.get()) == text.size(),
        ("writing " + path).c_str());
}

std::string Fingerprint(const Bytes& der) {
  BYTE digest[32];
  DWORD size = sizeof digest;
  Check(CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, der.data(),
                              static_cast<DWORD>(der.size()), digest, &size),
        "fingerprint");
  return platform::FingerprintText(digest, size);
}

}  // namespace

TestPki MakeTestPki(const std::string& dir, const CertificateOptions& options,
                    const std::string& prefix) {
  const KeyPair ca_key;
  const std::string ca_name = prefix + " test CA";
  const Bytes ca =
      MakeCertificate(ca_name, ca_key, ca_key, ca_name, nullptr, CertificateOptions{{}, -1, 3650});
  const KeyPair key;
  const Bytes ca_key_id = SubjectKeyId(ca_key);
  const std::string common_name = options.names.empty() ? prefix : options.names.front();
  const Bytes cert = MakeCertificate(common_name, key, ca_key, ca_name, &ca_key_id, options);

  TestPki pki;
  const std::string base = dir + "/" + prefix;
  pki.ca_file = base + "_ca.pem";
  pki.certificate_file = base + "_cert.pem";
  pki.key_file = base + "_key.pem";
  WritePem(pki.ca_file, "CERTIFICATE", ca);
  WritePem(pki.certificate_file, "CERTIFICATE", cert);
  WritePem(pki.key_file, "RSA PRIVATE KEY", key.PrivateKeyDer());
  pki.fingerprint = Fingerprint(cert);
  return pki;
}

}  // namespace postil::test
