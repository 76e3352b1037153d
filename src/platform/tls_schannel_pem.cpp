// PEM files for the Schannel backend: CA and server certificates, and the
// server's RSA key, which Schannel can only use from a key container.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <string_view>
#include <utility>

#include "platform/tls_layer.h"
#include "platform/tls_schannel_pki.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {
namespace {

bool DecodeBase64(std::string_view base64, std::vector<BYTE>* der) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(base64.size());
  if (!CryptStringToBinaryA(base64.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    return false;
  }
  der->resize(size);
  return CryptStringToBinaryA(base64.data(), length, CRYPT_STRING_BASE64, der->data(), &size,
                              nullptr, nullptr) != FALSE;
}

// The structure `type` decoded from `der` by crypt32; empty when it is not one.
std::vector<BYTE> Decode(LPCSTR type, const std::vector<BYTE>& der) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(der.size());
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, der.data(), length, 0, nullptr, nullptr,
                           &size)) {
    return {};
  }
  std::vector<BYTE> decoded(size);
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, der.data(), length, 0, nullptr, decoded.data(),
                           &size)) {
    return {};
  }
  decoded.resize(size);
  return decoded;
}

// The CryptoAPI private key blob of a PEM key: PKCS #1 as is, PKCS #8 when
// it holds an RSA key.
std::vector<BYTE> RsaKeyBlob(const std::string& path, std::string* err) {
  std::vector<std::vector<BYTE>> blocks;
  if (ReadPemFile(path, "RSA PRIVATE KEY", &blocks, err) && !blocks.empty()) {
    return Decode(PKCS_RSA_PRIVATE_KEY, blocks.front());
  }
  if (!ReadPemFile(path, "PRIVATE KEY", &blocks, err)) return {};
  if (blocks.empty()) {
    *err = "no RSA private key in " + path;
    return {};
  }
  const std::vector<BYTE> info = Decode(PKCS_PRIVATE_KEY_INFO, blocks.front());
  if (info.empty()) return {};
  const auto* key = reinterpret_cast<const CRYPT_PRIVATE_KEY_INFO*>(info.data());
  if (std::string_view(key->Algorithm.pszObjId) != szOID_RSA_RSA) {
    *err = "the key in " + path + " is not an RSA key";
    return {};
  }
  return Decode(
      PKCS_RSA_PRIVATE_KEY,
      std::vector<BYTE>(key->PrivateKey.pbData, key->PrivateKey.pbData + key->PrivateKey.cbData));
}

// A container name no other session uses.
std::wstring NewContainerName() {
  BYTE random[16] = {};
  BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  std::wstring name = L"postil-tls-";
  for (const BYTE b : random) {
    name += L"0123456789abcdef"[b >> 4];
    name += L"0123456789abcdef"[b & 0x0F];
  }
  return name;
}

}  // namespace

bool PemBlocks(std::string_view text, const std::string& label,
               std::vector<std::vector<BYTE>>* blocks) {
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  blocks->clear();
  for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
    const std::size_t body = at + begin.size();
    const std::size_t stop = text.find(end, body);
    std::vector<BYTE> der;
    if (stop == std::string::npos || !DecodeBase64(text.substr(body, stop - body), &der)) {
      return false;
    }
    blocks->push_back(std::move(der));
    at = stop + end.size();
  }
  return true;
}

bool ReadPemFile(const std::string& path, const std::string& label,
                 std::vector<std::vector<BYTE>>* blocks, std::string* err) {
  std::string text;
  std::string reason;
  if (!ReadPemText(path, &text, &reason)) {
    *err = path + ": " + reason;
    return false;
  }
  if (!PemBlocks(text, label, blocks)) {
    *err = "bad " + label + " in " + path;
    return false;
  }
  return true;
}

ServerCertificate::~ServerCertificate() {
  if (provider_ == 0) return;
  CryptReleaseContext(provider_, 0);
  HCRYPTPROV deleted = 0;
  CryptAcquireContextW(&deleted, container_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                       CRYPT_DELETEKEYSET | CRYPT_SILENT);
}

bool ServerCertificate::Load(const TlsServerSettings& settings, std::string* err) {
  std::vector<std::vector<BYTE>> certificates;
  if (!ReadPemFile(settings.certificate_file, "CERTIFICATE", &certificates, err)) return false;
  if (certificates.empty()) {
    *err = "no certificate in " + settings.certificate_file;
    return false;
  }
  certificate_.reset(CertCreateCertificateContext(X509_ASN_ENCODING, certificates.front().data(),
                                                  static_cast<DWORD>(certificates.front().size())));
  if (certificate_ == nullptr) {
    *err = "certificate file: " + Win32ErrorText(GetLastError());
    return false;
  }
  const std::vector<BYTE> key = RsaKeyBlob(settings.key_file, err);
  if (key.empty()) {
    if (err->empty()) *err = "key file: " + Win32ErrorText(GetLastError());
    return false;
  }
  return ImportKey(key, err);
}

// Schannel finds the key through the certificate's key provider property.
bool ServerCertificate::ImportKey(const std::vector<BYTE>& private_key_blob, std::string* err) {
  container_ = NewContainerName();
  HCRYPTKEY key = 0;
  if (!CryptAcquireContextW(&provider_, container_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                            CRYPT_NEWKEYSET | CRYPT_SILENT) ||
      !CryptImportKey(provider_, private_key_blob.data(),
                      static_cast<DWORD>(private_key_blob.size()), 0, 0, &key)) {
    *err = "key file: " + Win32ErrorText(GetLastError());
    return false;
  }
  CryptDestroyKey(key);
  const auto* header = reinterpret_cast<const BLOBHEADER*>(private_key_blob.data());
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = container_.data();
  info.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
  info.dwProvType = PROV_RSA_AES;
  info.dwKeySpec = header->aiKeyAlg == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
  if (!CertSetCertificateContextProperty(certificate_.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                         &info)) {
    *err = "key file: " + Win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace postil::platform
