// The record layer and handshake driving of a Schannel session.
#include "platform/tls_schannel_session.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace postil::platform {
namespace {

// TLS record content types run from 20 (ChangeCipherSpec) to 23 (application data).
constexpr unsigned char kFirstRecordType = 20;
constexpr unsigned char kAlertRecord = 21;
constexpr unsigned char kLastRecordType = 23;
constexpr unsigned char kRecordVersionMajor = 3;  // every TLS version

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
constexpr ULONG kServerFlags = ASC_REQ_SEQUENCE_DETECT | ASC_REQ_REPLAY_DETECT |
                               ASC_REQ_CONFIDENTIALITY | ASC_REQ_EXTENDED_ERROR |
                               ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM;

}  // namespace

SchannelSession::~SchannelSession() {
  if (have_context_) DeleteSecurityContext(&context_);
  if (have_credentials_) FreeCredentialsHandle(&credentials_);
}

bool SchannelSession::RecordBuffered() const {
  if (input_size_ < kTlsHeaderSize) return false;
  const auto* header = reinterpret_cast<const unsigned char*>(input_.data());
  return input_size_ >= kTlsHeaderSize + ((std::size_t{header[3]} << 8) | header[4]);
}

bool SchannelSession::Flush(TlsWait* wait) {
  while (output_sent_ < output_.size()) {
    const std::int64_t n =
        stream_->RawSend(output_.data() + output_sent_, output_.size() - output_sent_);
    if (n == TlsStream::kWouldBlock) {
      *wait = TlsWait::kWritable;
      return false;
    }
    if (n <= 0) {
      *wait = TlsWait::kNone;
      broken_ = true;
      return false;
    }
    output_sent_ += static_cast<std::size_t>(n);
  }
  output_.clear();
  output_sent_ = 0;
  return true;
}

// Why the record begun in the input cannot be TLS; null when it may be. A
// peer that speaks something else is refused at once, not waited for.
const char* SchannelSession::HeaderProblem() const {
  const auto* header = reinterpret_cast<const unsigned char*>(input_.data());
  if (input_size_ >= 1 && (header[0] < kFirstRecordType || header[0] > kLastRecordType)) {
    return "not a TLS record";
  }
  if (input_size_ >= 2 && header[1] != kRecordVersionMajor) return "not a TLS record";
  if (input_size_ >= kTlsHeaderSize &&
      ((std::size_t{header[3]} << 8) | header[4]) > kMaxRecordBody) {
    return "record too large";
  }
  return nullptr;
}

SchannelSession::Step SchannelSession::Fill(TlsWait* wait, ConnectError* err) {
  if (const char* problem = HeaderProblem()) {
    if (err) *err = {ConnectFailure::kTlsHandshake, problem};
    return Step::kFailed;
  }
  if (input_size_ == input_.size()) {
    if (err) *err = {ConnectFailure::kTlsHandshake, "handshake message too large"};
    return Step::kFailed;
  }
  const std::int64_t n =
      stream_->RawReceive(input_.data() + input_size_, input_.size() - input_size_);
  if (n == TlsStream::kWouldBlock) {
    *wait = TlsWait::kReadable;
    return Step::kWait;
  }
  if (n <= 0) {
    if (err) *err = {ConnectFailure::kTlsHandshake, "connection closed"};
    return Step::kFailed;
  }
  input_size_ += static_cast<std::size_t>(n);
  need_more_ = false;
  return Step::kAgain;
}

// Bytes after the ones Schannel used move to the front; none left when it
// reports no extra buffer.
void SchannelSession::KeepExtra(const SecBuffer* buffers, int count) {
  std::size_t extra = 0;
  for (int i = 0; i < count; ++i) {
    if (buffers[i].BufferType == SECBUFFER_EXTRA)
      extra = std::min<std::size_t>(buffers[i].cbBuffer, input_size_);
  }
  std::memmove(input_.data(), input_.data() + input_size_ - extra, extra);
  input_size_ = extra;
}

SchannelSession::Step SchannelSession::HandshakeStep(ConnectError* err) {
  SecBuffer in[2] = {{static_cast<ULONG>(input_size_), SECBUFFER_TOKEN, input_.data()},
                     {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
  SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 2, out};
  ULONG attributes = 0;
  const bool first = !have_context_;
  SECURITY_STATUS status;
  if (server_) {
    status = AcceptSecurityContext(&credentials_, first ? nullptr : &context_, &in_desc,
                                   kServerFlags, 0, &context_, &out_desc, &attributes, nullptr);
  } else {
    status = InitializeSecurityContextW(&credentials_, first ? nullptr : &context_,
                                        target_.empty() ? nullptr : target_.data(), kContextFlags,
                                        0, 0, first ? nullptr : &in_desc, 0, &context_, &out_desc,
                                        &attributes, nullptr);
  }
  // A server's first call makes no context until a whole hello came.
  if (first && !FAILED(status) && status != SEC_E_INCOMPLETE_MESSAGE) have_context_ = true;
  for (SecBuffer& buffer : out) {
    if (buffer.pvBuffer == nullptr) continue;
    // An alert made for a failure goes out too, so the peer learns why.
    output_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    FreeContextBuffer(buffer.pvBuffer);
  }
  switch (status) {
    case SEC_E_OK:
      KeepExtra(in, 2);
      handshake_done_ = true;
      return Step::kAgain;
    case SEC_I_CONTINUE_NEEDED:
      KeepExtra(in, 2);
      return Step::kAgain;
    case SEC_E_INCOMPLETE_MESSAGE:
      need_more_ = true;
      return Step::kAgain;
    case SEC_I_INCOMPLETE_CREDENTIALS:
      // Asked for a client certificate: the next call goes on without one;
      // asked again, the server insists.
      if (!without_certificate_) {
        without_certificate_ = true;
        return Step::kAgain;
      }
      if (err) *err = {ConnectFailure::kTlsHandshake, "the server wants a client certificate"};
      return Step::kFailed;
    default:
      if (err) *err = {ConnectFailure::kTlsHandshake, StatusText(status)};
      return Step::kFailed;
  }
}

bool SchannelSession::FinishHandshake(ConnectError* err) {
  const SECURITY_STATUS status =
      QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
  if (status != SEC_E_OK) {
    if (err) *err = {ConnectFailure::kTlsHandshake, StatusText(status)};
    return false;
  }
  if (server_) return true;
  const CERT_CONTEXT* peer = nullptr;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &peer) != SEC_E_OK ||
      peer == nullptr) {
    if (err) *err = {ConnectFailure::kCertificateNotTrusted, "no server certificate"};
    return false;
  }
  const CertificatePtr certificate(peer);
  return CheckServerCertificate(certificate.get(), settings_, err);
}

bool SchannelSession::Handshake(TlsWait* wait, ConnectError* err) {
  *wait = TlsWait::kNone;
  for (;;) {
    if (broken_) return false;
    if (!Flush(wait)) {
      if (*wait == TlsWait::kNone && err)
        *err = {ConnectFailure::kTlsHandshake, "connection closed"};
      return false;
    }
    if (handshake_done_) {
      broken_ = !FinishHandshake(err);
      return !broken_;
    }
    // A client speaks first; after that each step needs a whole record.
    const bool read = (have_context_ || server_) && (need_more_ || !RecordBuffered());
    const Step step = read ? Fill(wait, err) : HandshakeStep(err);
    if (step == Step::kWait) return false;
    if (step == Step::kFailed) {
      TlsWait ignored;
      Flush(&ignored);  // one try at sending the alert
      broken_ = true;
      *wait = TlsWait::kNone;
      return false;
    }
  }
}

SchannelSession::Step SchannelSession::Decrypt() {
  if (!RecordBuffered()) return Step::kWait;
  const bool alert = static_cast<unsigned char>(input_[0]) == kAlertRecord;
  SecBuffer buffers[4] = {{static_cast<ULONG>(input_size_), SECBUFFER_DATA, input_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    need_more_ = true;
    return Step::kWait;
  }
  if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE) {
    return Step::kFailed;
  }
  std::size_t data = 0;
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType != SECBUFFER_DATA) continue;
    // Decrypted in place: take it out before the input buffer moves.
    if (plain_read_ == plain_.size()) {
      plain_.clear();
      plain_read_ = 0;
    }
    plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    data += buffer.cbBuffer;
  }
  KeepExtra(buffers, 4);
  // The closing alert: Schannel says the context expired, or, in some
  // versions, hands out an alert record with no data.
  if (status == SEC_I_CONTEXT_EXPIRED || (alert && data == 0)) peer_closed_ = true;
  // A renegotiation or a ticket after the handshake: more handshake steps.
  if (status == SEC_I_RENEGOTIATE) handshake_done_ = false;
  return Step::kAgain;
}

std::int64_t SchannelSession::Fail(TlsWait* wait) {
  *wait = TlsWait::kNone;
  broken_ = true;
  return -1;
}

std::int64_t SchannelSession::Read(char* buffer, std::size_t size, TlsWait* wait) {
  for (;;) {
    if (plain_read_ < plain_.size()) {
      const std::size_t n = std::min(size, plain_.size() - plain_read_);
      std::memcpy(buffer, plain_.data() + plain_read_, n);
      plain_read_ += n;
      return static_cast<std::int64_t>(n);
    }
    if (broken_) return -1;
    if (peer_closed_) return 0;
    if (!handshake_done_) {  // the peer renegotiates or sent a ticket
      if (Handshake(wait, nullptr)) continue;
      return *wait == TlsWait::kNone ? Fail(wait) : TlsStream::kWouldBlock;
    }
    const Step decrypted = need_more_ ? Step::kWait : Decrypt();
    if (decrypted == Step::kFailed) return Fail(wait);
    if (decrypted == Step::kAgain) continue;
    // A stream cut without the closing alert is an error, not the end.
    const Step filled = Fill(wait, nullptr);
    if (filled == Step::kFailed) return Fail(wait);
    if (filled == Step::kWait) return TlsStream::kWouldBlock;
  }
}

// Encrypts one record of at most the largest message into the output.
bool SchannelSession::QueueRecord(const char* data, std::size_t size) {
  const std::size_t n = std::min<std::size_t>(size, sizes_.cbMaximumMessage);
  std::string record(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
  std::memcpy(record.data() + sizes_.cbHeader, data, n);
  SecBuffer buffers[4] = {
      {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
      {static_cast<ULONG>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
      {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return false;
  // Header, data and trailer lie end to end; the trailer may be shorter.
  record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
  output_ = std::move(record);
  output_plain_ = n;
  return true;
}

std::int64_t SchannelSession::Write(const char* data, std::size_t size, TlsWait* wait) {
  if (broken_) return -1;
  if (size == 0) return 0;
  // The record counts as taken once all of it is on the way; until then
  // the caller offers the same bytes again.
  if (!output_.empty()) {
    if (!Flush(wait)) return *wait == TlsWait::kNone ? -1 : TlsStream::kWouldBlock;
    if (output_plain_ > 0) return static_cast<std::int64_t>(std::exchange(output_plain_, 0));
  }
  if (!QueueRecord(data, size)) return Fail(wait);
  if (!Flush(wait)) return *wait == TlsWait::kNone ? -1 : TlsStream::kWouldBlock;
  return static_cast<std::int64_t>(std::exchange(output_plain_, 0));
}

void SchannelSession::SendCloseNotify() {
  if (broken_ || close_sent_ || !handshake_done_ || !output_.empty()) return;
  close_sent_ = true;
  DWORD shutdown = SCHANNEL_SHUTDOWN;
  SecBuffer token{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
  SecBufferDesc token_desc{SECBUFFER_VERSION, 1, &token};
  // Some Schannel versions cannot make the alert: the peer then sees the
  // connection closed without it.
  if (ApplyControlToken(&context_, &token_desc) != SEC_E_OK) return;
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
  ULONG attributes = 0;
  if (server_) {
    AcceptSecurityContext(&credentials_, &context_, nullptr, kServerFlags, 0, nullptr, &out_desc,
                          &attributes, nullptr);
  } else {
    InitializeSecurityContextW(&credentials_, &context_, nullptr, kContextFlags, 0, 0, nullptr, 0,
                               nullptr, &out_desc, &attributes, nullptr);
  }
  if (out.pvBuffer == nullptr) return;
  // One try: a full socket buffer leaves the alert unsent, and the caller
  // closes anyway.
  stream_->RawSend(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
  FreeContextBuffer(out.pvBuffer);
}

}  // namespace postil::platform
