// Server certificate checks for the Schannel backend. The system builds and
// judges the chain (the SSL policy: trust, host name, dates); a CA file
// narrows trust to its own certificates; an address is matched against the
// certificate's addresses here, as the policy matches names only.
#include <winsock2.h>
#include <ws2tcpip.h>
// After the Winsock headers, which must come before windows.h.
#include <bcrypt.h>

#include <string_view>

#include "platform/tls_fingerprint.h"
#include "platform/tls_layer.h"
#include "platform/tls_schannel_pki.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

constexpr const char* kNoIssuer = "unable to get local issuer certificate";

// What the SSL policy may set aside (SSL_EXTRA_CERT_CHAIN_POLICY_PARA's
// fdwChecks); the SDK declares them with the Internet APIs only.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreDates = 0x00002000;

struct StoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreClose>;
struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// Only the CA certificates of `path`, in a store of their own; nullptr
// with the reason.
StorePtr CaStoreOf(const std::string& path, std::string* reason) {
  std::string text;
  std::vector<std::vector<BYTE>> certificates;
  if (!ReadPemText(path, &text, reason)) return nullptr;
  if (!PemBlocks(text, "CERTIFICATE", &certificates)) {
    *reason = "bad CERTIFICATE block";
    return nullptr;
  }
  if (certificates.empty()) {
    *reason = "no certificate found";
    return nullptr;
  }
  StorePtr store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (store == nullptr) {
    *reason = Win32ErrorText(GetLastError());
    return nullptr;
  }
  for (const auto& der : certificates) {
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      *reason = Win32ErrorText(GetLastError());
      return nullptr;
    }
  }
  return store;
}

StorePtr LoadCaStore(const std::string& path, ConnectError* err) {
  std::string reason;
  StorePtr store = CaStoreOf(path, &reason);
  if (store == nullptr) {
    *err = {ConnectFailure::kCertificateNotTrusted,
            "cannot load CA certificates " + path + ": " + reason};
  }
  return store;
}

// The chain the system builds from the server's certificate, with what the
// server sent and the CA file's certificates to build it from.
ChainPtr BuildChain(const CERT_CONTEXT* certificate, HCERTSTORE cas) {
  StorePtr extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (extra == nullptr) return nullptr;
  CertAddStoreToCollection(extra.get(), certificate->hCertStore, 0, 0);
  if (cas != nullptr) CertAddStoreToCollection(extra.get(), cas, 0, 0);
  LPSTR server_auth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage = {1, &server_auth};
  const CERT_CHAIN_CONTEXT* chain = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, extra.get(), &para, 0, nullptr,
                               &chain)) {
    return nullptr;
  }
  return ChainPtr(chain);
}

// True when the chain ends in one of the certificates of `cas`.
bool EndsIn(const CERT_CHAIN_CONTEXT* chain, HCERTSTORE cas) {
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  const CERT_CONTEXT* root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  const CERT_CONTEXT* found =
      CertFindCertificateInStore(cas, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
  CertFreeCertificateContext(found);
  return found != nullptr;
}

// What the SSL policy says of the chain for `server_name` (null: no name
// check), with the problems `ignored` (kIgnore*) set aside.
LONG PolicyError(const CERT_CHAIN_CONTEXT* chain, const wchar_t* server_name, DWORD ignored) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = ignored;
  ssl.pwszServerName = const_cast<wchar_t*>(server_name);
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status)) {
    return static_cast<LONG>(GetLastError());
  }
  return status.dwError;
}

// Which end of its validity a certificate of the chain is past.
std::string DateText(const CERT_CHAIN_CONTEXT* chain) {
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  for (DWORD i = 0; i < simple->cElement; ++i) {
    if (CertVerifyTimeValidity(nullptr, simple->rgpElement[i]->pCertContext->pCertInfo) < 0) {
      return "certificate is not yet valid";
    }
  }
  return "certificate has expired";
}

// What the chain's own status says against trusting it, dates aside;
// empty when nothing. Not every system's SSL policy looks at all of it (a
// chain cut short may pass there).
std::string ChainProblem(const CERT_CHAIN_CONTEXT* chain, bool own_root) {
  DWORD status =
      chain->TrustStatus.dwErrorStatus &
      ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID);
  if (own_root) status &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  if (status == 0) return "";
  if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) return kNoIssuer;
  if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  if (status & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "unsupported certificate purpose";
  return "certificate chain not trusted";
}

std::string TrustText(LONG error, const CERT_CHAIN_CONTEXT* chain) {
  switch (error) {
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
      return kNoIssuer;
    case CERT_E_EXPIRED:
      return DateText(chain);
    case TRUST_E_CERT_SIGNATURE:
      return "certificate signature failure";
    case CERT_E_REVOKED:
      return "certificate revoked";
    default:
      return Win32ErrorText(static_cast<unsigned long>(error));
  }
}

// The address `text` in network byte order; empty when it is a name.
std::vector<BYTE> AddressOf(const std::string& text) {
  const std::wstring wide = WideText(text);
  in6_addr v6{};
  if (InetPtonW(AF_INET6, wide.c_str(), &v6) == 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&v6);
    return std::vector<BYTE>(bytes, bytes + sizeof v6);
  }
  in_addr v4{};
  if (InetPtonW(AF_INET, wide.c_str(), &v4) == 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&v4);
    return std::vector<BYTE>(bytes, bytes + sizeof v4);
  }
  return {};
}

// True when one of the certificate's subject alternative names is `address`.
bool HasAddress(const CERT_CONTEXT* certificate, const std::vector<BYTE>& address) {
  const CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            std::basic_string_view<BYTE>(entry.IPAddress.pbData, entry.IPAddress.cbData) ==
                std::basic_string_view<BYTE>(address.data(), address.size());
  }
  LocalFree(names);
  return found;
}

bool CheckChain(const CERT_CONTEXT* certificate, const TlsClientSettings& settings,
                ConnectError* err) {
  StorePtr cas;
  if (!settings.ca_file.empty() && (cas = LoadCaStore(settings.ca_file, err)) == nullptr) {
    return false;
  }
  const ChainPtr chain = BuildChain(certificate, cas.get());
  if (chain == nullptr) {
    *err = {ConnectFailure::kCertificateNotTrusted, Win32ErrorText(GetLastError())};
    return false;
  }
  // A CA file is the only trust there is: its certificates are roots the
  // system does not know, and a chain to any other root is refused.
  if (cas != nullptr && !EndsIn(chain.get(), cas.get())) {
    *err = {ConnectFailure::kCertificateNotTrusted, kNoIssuer};
    return false;
  }
  const DWORD own_root = cas != nullptr ? kIgnoreUnknownCa : 0;
  // Trust first, then the name, then the dates: each failure is named by
  // the first check it fails.
  std::string problem = ChainProblem(chain.get(), cas != nullptr);
  LONG error = PolicyError(chain.get(), nullptr, own_root | kIgnoreDates);
  if (problem.empty() && error != 0) problem = TrustText(error, chain.get());
  if (!problem.empty()) {
    *err = {ConnectFailure::kCertificateNotTrusted, problem};
    return false;
  }
  const std::vector<BYTE> address = AddressOf(settings.server_name);
  const std::wstring name = address.empty() ? WideText(settings.server_name) : std::wstring();
  const wchar_t* checked_name = name.empty() ? nullptr : name.c_str();
  if (!address.empty() && !HasAddress(certificate, address)) {
    *err = {ConnectFailure::kNameMismatch, "IP address mismatch"};
    return false;
  }
  error = PolicyError(chain.get(), checked_name, own_root | kIgnoreDates);
  if (error == CERT_E_CN_NO_MATCH) {
    *err = {ConnectFailure::kNameMismatch, "hostname mismatch"};
    return false;
  }
  if (error == 0) error = PolicyError(chain.get(), checked_name, own_root);
  if (error != 0) {
    *err = {ConnectFailure::kCertificateNotTrusted, TrustText(error, chain.get())};
    return false;
  }
  return true;
}

}  // namespace

bool IsAddressText(const std::string& text) { return !AddressOf(text).empty(); }

std::string CertificateFingerprint(const CERT_CONTEXT* certificate) {
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  if (BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return "";
  UCHAR digest[32];
  const bool hashed = BCryptHash(sha256, nullptr, 0, certificate->pbCertEncoded,
                                 certificate->cbCertEncoded, digest, sizeof digest) == 0;
  BCryptCloseAlgorithmProvider(sha256, 0);
  if (!hashed) return "";
  return FingerprintText(digest, sizeof digest);
}

std::string CertificateSubject(const CERT_CONTEXT* certificate) {
  CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, subject, type, nullptr, 0);
  if (size <= 1) return "";
  std::wstring wide(size, L'\0');
  wide.resize(CertNameToStrW(X509_ASN_ENCODING, subject, type, wide.data(), size) - 1);
  std::string line;
  for (const char c : NarrowText(wide)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      line += c;
      continue;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    line += {'\\', kHex[byte >> 4], kHex[byte & 0x0F]};
  }
  return line;
}

bool CheckServerCertificate(const CERT_CONTEXT* certificate, const TlsClientSettings& settings,
                            ConnectError* err) {
  if (settings.fingerprint.empty()) return CheckChain(certificate, settings, err);
  const std::string found = CertificateFingerprint(certificate);
  if (!found.empty() && BareFingerprint(found) == BareFingerprint(settings.fingerprint)) return true;
  *err = {ConnectFailure::kFingerprintMismatch, found};
  return false;
}

}  // namespace postil::platform
