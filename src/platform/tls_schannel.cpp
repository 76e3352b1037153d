// The Windows TLS backend: the system's Schannel through SSPI, TLS 1.2 and
// later. Certificate checks are ours (tls_schannel_verify.cpp), not
// Schannel's defaults; the record layer is tls_schannel_session.cpp.
#include <cstdio>

#include "platform/tls_schannel_session.h"
#include "platform/wide_text_win32.h"

namespace postil::platform {

std::string StatusText(SECURITY_STATUS status) {
  const auto code = static_cast<unsigned long>(status);
  const std::string text = Win32ErrorText(code);
  if (text != "error " + std::to_string(code)) return text;
  char hex[32];
  std::snprintf(hex, sizeof hex, "Schannel error 0x%08lX", code);
  return hex;
}

SECURITY_STATUS SchannelSession::Acquire(void* credentials) {
  const SECURITY_STATUS status =
      AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                server_ ? SECPKG_CRED_INBOUND : SECPKG_CRED_OUTBOUND, nullptr,
                                credentials, nullptr, nullptr, &credentials_, nullptr);
  have_credentials_ = status == SEC_E_OK;
  return status;
}

// The current form of the credentials first: only it offers TLS 1.3 where
// the system has it. Systems that do not know it get the older form.
SECURITY_STATUS SchannelSession::AcquireCredentials(const CERT_CONTEXT* certificate) {
  PCCERT_CONTEXT* certificates =
      certificate != nullptr ? const_cast<PCCERT_CONTEXT*>(&certificate) : nullptr;
  // Our own checks decide; Schannel neither checks nor offers a client
  // certificate of its own choosing.
  const DWORD flags = server_ ? 0 : SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
  SCH_CREDENTIALS current{};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.cCreds = certificates != nullptr ? 1 : 0;
  current.paCred = certificates;
  current.dwFlags = flags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  if (Acquire(&current) == SEC_E_OK) return SEC_E_OK;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.cCreds = current.cCreds;
  older.paCred = certificates;
  older.dwFlags = flags;
  older.grbitEnabledProtocols = server_ ? SP_PROT_TLS1_2_SERVER | SP_PROT_TLS1_3_SERVER
                                        : SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  if (Acquire(&older) == SEC_E_OK) return SEC_E_OK;
  // Schannel of this form may refuse TLS 1.3 outright.
  older.grbitEnabledProtocols = server_ ? SP_PROT_TLS1_2_SERVER : SP_PROT_TLS1_2_CLIENT;
  return Acquire(&older);
}

void SchannelSession::SetClientSettings(const TlsClientSettings& settings) {
  settings_ = settings;
  // Server Name Indication carries names only, never an address.
  if (!IsAddressText(settings.server_name)) target_ = WideText(settings.server_name);
}

namespace {

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3) return "TLSv1.3";
  if (protocol & SP_PROT_TLS1_2) return "TLSv1.2";
  return "unknown";
}

}  // namespace

TlsSessionInfo SchannelSession::Info() const {
  TlsSessionInfo info;
  auto* context = const_cast<CtxtHandle*>(&context_);
  SecPkgContext_ConnectionInfo connection{};
  if (QueryContextAttributesW(context, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
    info.protocol = ProtocolName(connection.dwProtocol);
  }
  SecPkgContext_CipherInfo cipher{};
  cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
  if (QueryContextAttributesW(context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
    info.cipher = NarrowText(cipher.szCipherSuite);
  }
  const CERT_CONTEXT* certificate = nullptr;
  CertificatePtr peer;
  if (server_) {
    certificate = server_certificate_.get();
  } else if (QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) ==
             SEC_E_OK) {
    peer.reset(certificate);
  }
  if (certificate != nullptr) {
    info.subject = CertificateSubject(certificate);
    info.fingerprint = CertificateFingerprint(certificate);
  }
  return info;
}

std::unique_ptr<TlsSession> StartTlsClient(TlsStream* stream, const TlsClientSettings& settings,
                                           ConnectError* err) {
  auto session = std::make_unique<SchannelSession>(stream, false);
  const SECURITY_STATUS status = session->AcquireCredentials(nullptr);
  if (status != SEC_E_OK) {
    if (err) *err = {ConnectFailure::kTlsHandshake, StatusText(status)};
    return nullptr;
  }
  session->SetClientSettings(settings);
  return session;
}

std::unique_ptr<TlsSession> StartTlsServer(TlsStream* stream, const TlsServerSettings& settings,
                                           std::string* err) {
  auto session = std::make_unique<SchannelSession>(stream, true);
  std::string reason;
  if (!session->server_certificate().Load(settings, &reason)) {
    if (err) *err = reason;
    return nullptr;
  }
  const SECURITY_STATUS status = session->AcquireCredentials(session->server_certificate().get());
  if (status != SEC_E_OK) {
    if (err) *err = StatusText(status);
    return nullptr;
  }
  return session;
}

}  // namespace postil::platform

namespace postil {

// Schannel has no version of its own: it is the system's, so the system's
// version names it.
std::string TlsLibraryVersion() {
  using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto get_version = reinterpret_cast<GetVersion>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get_version == nullptr || get_version(&version) != 0) return "Schannel (Windows)";
  return "Schannel (Windows " + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) + ")";
}

}  // namespace postil
