#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string_view>

#include "platform/tls_fingerprint.h"
#include "platform/tls_layer.h"

// OpenSSL reads and writes through a BIO of our own that calls the
// transport's stream, so it never touches the socket (and never raises
// SIGPIPE through a plain write()).
namespace postil::platform {
namespace {

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using SslContextPtr = std::unique_ptr<SSL_CTX, SslContextFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// The reason of OpenSSL's first queued error, or `fallback` when none is
// queued; the queue is emptied so the next call starts clean.
std::string TakeErrorText(std::string_view fallback) {
  const unsigned long code = ERR_get_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason != nullptr ? std::string(reason) : std::string(fallback);
}

TlsStream* StreamOf(BIO* bio) { return static_cast<TlsStream*>(BIO_get_data(bio)); }

int BioRead(BIO* bio, char* buffer, int size) {
  BIO_clear_retry_flags(bio);
  const std::int64_t n = StreamOf(bio)->RawReceive(buffer, static_cast<std::size_t>(size));
  if (n == TlsStream::kWouldBlock) {
    BIO_set_retry_read(bio);
    return -1;
  }
  return static_cast<int>(n);
}

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  const std::int64_t n = StreamOf(bio)->RawSend(data, static_cast<std::size_t>(size));
  if (n == TlsStream::kWouldBlock) {
    BIO_set_retry_write(bio);
    return -1;
  }
  return static_cast<int>(n);
}

// Every byte goes straight to the stream: nothing to flush, nothing to ask.
long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

// Made once and never freed: every session of the process shares it.
const BIO_METHOD* StreamBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "postil stream");
    if (made != nullptr) {
      BIO_meth_set_read(made, BioRead);
      BIO_meth_set_write(made, BioWrite);
      BIO_meth_set_ctrl(made, BioControl);
    }
    return made;
  }();
  return method;
}

// Both directions of `ssl` through `stream`; false when OpenSSL is out of memory.
bool AttachStream(SSL* ssl, TlsStream* stream) {
  const BIO_METHOD* method = StreamBioMethod();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) return false;
  BIO_set_data(bio, stream);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl, bio, bio);
  return true;
}

SslContextPtr NewContext(const SSL_METHOD* method) {
  SslContextPtr context(SSL_CTX_new(method));
  if (context == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // The transport offers the same bytes again after a would-block, maybe
  // from a moved buffer, and takes a partial count like a socket's.
  SSL_CTX_set_mode(context.get(),
                   SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return context;
}

std::string HexFingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "";
  return FingerprintText(digest, length);
}

std::string SubjectText(X509* certificate) {
  std::unique_ptr<BIO, BioFree> memory(BIO_new(BIO_s_mem()));
  if (memory == nullptr) return "";
  // RFC 2253 form escapes control and 8-bit bytes: the subject is the
  // server's text and may reach a log line.
  X509_NAME_print_ex(memory.get(), X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : "";
}

bool IsIpAddress(const std::string& text) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(text.c_str());
  ASN1_OCTET_STRING_free(address);
  return address != nullptr;
}

class OpenSslSession final : public TlsSession {
 public:
  OpenSslSession(SslPtr ssl, std::string_view fingerprint)
      : ssl_(std::move(ssl)), fingerprint_(BareFingerprint(fingerprint)) {}

  bool Handshake(TlsWait* wait, ConnectError* err) override;
  TlsSessionInfo Info() const override;
  std::int64_t Read(char* buffer, std::size_t size, TlsWait* wait) override;
  std::int64_t Write(const char* data, std::size_t size, TlsWait* wait) override;
  bool HasPending() const override { return SSL_pending(ssl_.get()) > 0; }
  void SendCloseNotify() override;

 private:
  // kWouldBlock with `*wait` set when OpenSSL only waits for the socket;
  // -1 (the session now broken) otherwise.
  std::int64_t Retry(int rc, TlsWait* wait);
  ConnectError HandshakeFailure() const;
  bool FingerprintMatches(ConnectError* err) const;

  SslPtr ssl_;
  std::string fingerprint_;  // bare hex; empty: the chain and name decide
  // After a fatal error OpenSSL forbids SSL_shutdown.
  bool broken_ = false;
  bool close_sent_ = false;
};

std::int64_t OpenSslSession::Retry(int rc, TlsWait* wait) {
  switch (SSL_get_error(ssl_.get(), rc)) {
    case SSL_ERROR_WANT_READ:
      *wait = TlsWait::kReadable;
      return TlsStream::kWouldBlock;
    case SSL_ERROR_WANT_WRITE:
      *wait = TlsWait::kWritable;
      return TlsStream::kWouldBlock;
    default:
      *wait = TlsWait::kNone;
      broken_ = true;
      return -1;
  }
}

bool OpenSslSession::Handshake(TlsWait* wait, ConnectError* err) {
  ERR_clear_error();
  const int rc = SSL_do_handshake(ssl_.get());
  if (rc == 1) {
    *wait = TlsWait::kNone;
    return FingerprintMatches(err);
  }
  if (Retry(rc, wait) == TlsStream::kWouldBlock) return false;
  if (err) *err = HandshakeFailure();
  return false;
}

ConnectError OpenSslSession::HandshakeFailure() const {
  const long verify = SSL_get_verify_result(ssl_.get());
  if (verify == X509_V_OK) {
    return {ConnectFailure::kTlsHandshake, TakeErrorText("connection closed")};
  }
  ERR_clear_error();
  const bool wrong_name =
      verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH;
  return {wrong_name ? ConnectFailure::kNameMismatch : ConnectFailure::kCertificateNotTrusted,
          X509_verify_cert_error_string(verify)};
}

bool OpenSslSession::FingerprintMatches(ConnectError* err) const {
  if (fingerprint_.empty()) return true;
  X509* certificate = SSL_get0_peer_certificate(ssl_.get());
  const std::string found = certificate != nullptr ? HexFingerprint(certificate) : "";
  if (!found.empty() && BareFingerprint(found) == fingerprint_) return true;
  if (err) *err = {ConnectFailure::kFingerprintMismatch, found};
  return false;
}

TlsSessionInfo OpenSslSession::Info() const {
  TlsSessionInfo info;
  info.protocol = SSL_get_version(ssl_.get());
  const char* cipher = SSL_get_cipher_name(ssl_.get());
  info.cipher = cipher != nullptr ? cipher : "";
  X509* certificate = SSL_get0_peer_certificate(ssl_.get());
  if (certificate == nullptr) certificate = SSL_get_certificate(ssl_.get());
  if (certificate != nullptr) {
    info.subject = SubjectText(certificate);
    info.fingerprint = HexFingerprint(certificate);
  }
  return info;
}

std::int64_t OpenSslSession::Read(char* buffer, std::size_t size, TlsWait* wait) {
  if (broken_) return -1;
  ERR_clear_error();
  std::size_t taken = 0;
  const int rc = SSL_read_ex(ssl_.get(), buffer, size, &taken);
  if (rc == 1) return static_cast<std::int64_t>(taken);
  if (SSL_get_error(ssl_.get(), rc) == SSL_ERROR_ZERO_RETURN) return 0;
  return Retry(rc, wait);
}

std::int64_t OpenSslSession::Write(const char* data, std::size_t size, TlsWait* wait) {
  if (broken_) return -1;
  if (size == 0) return 0;
  ERR_clear_error();
  std::size_t taken = 0;
  const int rc = SSL_write_ex(ssl_.get(), data, size, &taken);
  if (rc == 1) return static_cast<std::int64_t>(taken);
  return Retry(rc, wait);
}

void OpenSslSession::SendCloseNotify() {
  if (broken_ || close_sent_ || SSL_is_init_finished(ssl_.get()) != 1) return;
  close_sent_ = true;
  // One try: a full socket buffer leaves the alert unsent, and the caller
  // closes anyway.
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

// The certificates (and revocation lists) of a PEM text into the store the
// chain is checked against, as OpenSSL would load them from the file
// itself; OpenSSL is not given the path, as it would open whatever the path
// names. False with the reason when none could be taken.
bool AddCaCertificates(SSL_CTX* context, const std::string& pem, std::string* reason) {
  std::unique_ptr<BIO, BioFree> memory(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  STACK_OF(X509_INFO)* infos =
      memory != nullptr ? PEM_X509_INFO_read_bio(memory.get(), nullptr, nullptr, nullptr) : nullptr;
  if (infos == nullptr) {
    *reason = TakeErrorText("no certificate found");
    return false;
  }
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  int added = 0;
  for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos, i);
    if (info->x509 != nullptr && X509_STORE_add_cert(store, info->x509) == 1) ++added;
    if (info->crl != nullptr) X509_STORE_add_crl(store, info->crl);
  }
  sk_X509_INFO_pop_free(infos, X509_INFO_free);
  ERR_clear_error();
  if (added == 0) *reason = "no certificate found";
  return added > 0;
}

bool LoadCaFile(SSL_CTX* context, const std::string& path, std::string* reason) {
  std::string pem;
  return ReadPemText(path, &pem, reason) && AddCaCertificates(context, pem, reason);
}

// Chain, name and dates are checked by OpenSSL during the handshake; a
// pinned fingerprint replaces all three.
bool ConfigureVerification(SSL_CTX* context, SSL* ssl, const TlsClientSettings& settings,
                           ConnectError* err) {
  if (!settings.fingerprint.empty()) {
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    return true;
  }
  SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  std::string reason;
  bool loaded = false;
  if (settings.ca_file.empty()) {
    loaded = SSL_CTX_set_default_verify_paths(context) == 1;
    if (!loaded) reason = TakeErrorText("unknown error");
  } else {
    loaded = LoadCaFile(context, settings.ca_file, &reason);
  }
  if (!loaded) {
    if (err) {
      *err = {ConnectFailure::kCertificateNotTrusted,
              "cannot load CA certificates " + settings.ca_file + ": " + reason};
    }
    return false;
  }
  if (settings.server_name.empty()) return true;
  if (IsIpAddress(settings.server_name)) {
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), settings.server_name.c_str()) == 1;
  }
  return SSL_set1_host(ssl, settings.server_name.c_str()) == 1;
}

}  // namespace

std::unique_ptr<TlsSession> StartTlsClient(TlsStream* stream, const TlsClientSettings& settings,
                                           ConnectError* err) {
  ERR_clear_error();
  SslContextPtr context = NewContext(TLS_client_method());
  SslPtr ssl(context != nullptr ? SSL_new(context.get()) : nullptr);
  if (ssl == nullptr || !AttachStream(ssl.get(), stream)) {
    if (err) *err = {ConnectFailure::kTlsHandshake, TakeErrorText("out of memory")};
    return nullptr;
  }
  if (!ConfigureVerification(context.get(), ssl.get(), settings, err)) return nullptr;
  // Server Name Indication carries names only, never an address.
  if (!settings.server_name.empty() && !IsIpAddress(settings.server_name)) {
    SSL_set_tlsext_host_name(ssl.get(), settings.server_name.c_str());
  }
  SSL_set_connect_state(ssl.get());
  return std::make_unique<OpenSslSession>(std::move(ssl), settings.fingerprint);
}

std::unique_ptr<TlsSession> StartTlsServer(TlsStream* stream, const TlsServerSettings& settings,
                                           std::string* err) {
  ERR_clear_error();
  SslContextPtr context = NewContext(TLS_server_method());
  if (context == nullptr) {
    if (err) *err = TakeErrorText("out of memory");
    return nullptr;
  }
  const char* failed = nullptr;
  if (SSL_CTX_use_certificate_chain_file(context.get(), settings.certificate_file.c_str()) != 1) {
    failed = "certificate file";
  } else if (SSL_CTX_use_PrivateKey_file(context.get(), settings.key_file.c_str(),
                                         SSL_FILETYPE_PEM) != 1 ||
             SSL_CTX_check_private_key(context.get()) != 1) {
    failed = "key file";
  }
  SslPtr ssl(failed == nullptr ? SSL_new(context.get()) : nullptr);
  if (ssl == nullptr || !AttachStream(ssl.get(), stream)) {
    if (err) {
      *err = failed != nullptr ? std::string(failed) + ": " + TakeErrorText("unknown error")
                               : TakeErrorText("out of memory");
    }
    return nullptr;
  }
  SSL_set_accept_state(ssl.get());
  return std::make_unique<OpenSslSession>(std::move(ssl), "");
}

}  // namespace postil::platform

namespace postil {

std::string TlsLibraryVersion() { return OpenSSL_version(OPENSSL_VERSION); }

}  // namespace postil
