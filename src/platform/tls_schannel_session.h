// Shared by the Schannel TLS backend only (tls_schannel*.cpp): one session
// over SSPI. Schannel never touches the socket: records are read into a
// bounded buffer of our own and handed to it, and what it makes is queued
// and sent by us, so every call can stop at a would-block and go on later.
// Owned by the transport's owning thread.
#pragma once

#define SECURITY_WIN32
// The current credential form (SCH_CREDENTIALS) is declared only with it.
#define SCHANNEL_USE_BLACKLISTS
#include "platform/tls_schannel_pki.h"
// After windows.h, which they need; UNICODE_STRING before schannel.h.
#include <subauth.h>
// The SSPI declarations after the types they use.
#include <schannel.h>
#include <security.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tls_layer.h"

namespace postil::platform {

// The system's text of a status, or its number in hex where the system has
// no text for it.
std::string StatusText(SECURITY_STATUS status);

// One TLS session, client or server, over a stream it does not own.
class SchannelSession final : public TlsSession {
 public:
  SchannelSession(TlsStream* stream, bool server) : stream_(stream), server_(server) {}
  ~SchannelSession() override;
  SchannelSession(const SchannelSession&) = delete;
  SchannelSession& operator=(const SchannelSession&) = delete;

  // TLS 1.2 and later only; `certificate` for a server, null for a client.
  SECURITY_STATUS AcquireCredentials(const CERT_CONTEXT* certificate);
  void SetClientSettings(const TlsClientSettings& settings);
  ServerCertificate& server_certificate() { return server_certificate_; }

  bool Handshake(TlsWait* wait, ConnectError* err) override;
  TlsSessionInfo Info() const override;
  std::int64_t Read(char* buffer, std::size_t size, TlsWait* wait) override;
  std::int64_t Write(const char* data, std::size_t size, TlsWait* wait) override;
  bool HasPending() const override { return plain_.size() > plain_read_ || RecordBuffered(); }
  void SendCloseNotify() override;

 private:
  enum class Step { kAgain, kWait, kFailed };

  // The largest TLS record: header and body (2^14 plus expansion).
  static constexpr std::size_t kTlsHeaderSize = 5;
  static constexpr std::size_t kMaxRecordBody = 16384 + 2048;

  // `credentials`: SCH_CREDENTIALS or the older SCHANNEL_CRED.
  SECURITY_STATUS Acquire(void* credentials);

  // One call of InitializeSecurityContext / AcceptSecurityContext on what
  // is buffered; output is queued, unused input kept.
  Step HandshakeStep(ConnectError* err);
  // Reads more of the stream into the input buffer; kAgain when bytes came.
  Step Fill(TlsWait* wait, ConnectError* err);
  // Sends what is queued; false while some waits (`*wait` kWritable) or on
  // an error (`*wait` kNone, the session broken).
  bool Flush(TlsWait* wait);
  bool RecordBuffered() const;
  const char* HeaderProblem() const;
  // Takes one record of the input into plain_; kAgain also for a record
  // that brings no data (a ticket), kWait when the record is incomplete.
  Step Decrypt();
  std::int64_t Fail(TlsWait* wait);
  bool QueueRecord(const char* data, std::size_t size);
  void KeepExtra(const SecBuffer* buffers, int count);
  bool FinishHandshake(ConnectError* err);

  TlsStream* const stream_;
  const bool server_;
  TlsClientSettings settings_;
  std::wstring target_;  // the SNI name; empty for an address
  ServerCertificate server_certificate_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool have_credentials_ = false;
  bool have_context_ = false;
  bool handshake_done_ = false;
  bool need_more_ = false;  // Schannel asked for more bytes than the records buffered
  bool peer_closed_ = false;
  bool broken_ = false;
  bool close_sent_ = false;
  bool without_certificate_ = false;  // the server's request for one was answered
  SecPkgContext_StreamSizes sizes_{};
  // Room for a few records: a handshake message may span some.
  std::vector<char> input_ = std::vector<char>(4 * (kTlsHeaderSize + kMaxRecordBody));
  std::size_t input_size_ = 0;
  std::string output_;  // encrypted, not yet sent
  std::size_t output_sent_ = 0;
  std::size_t output_plain_ = 0;  // the plain bytes a queued data record carries
  std::string plain_;             // decrypted, not yet handed out
  std::size_t plain_read_ = 0;
};

}  // namespace postil::platform
