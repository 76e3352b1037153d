// A TLS session for the transports of this folder only: the TLS library
// works on a plain byte stream the transport lends it and never blocks; each
// call says which readiness of the socket the next try waits for. Holds no
// OS or TLS library type, so each library is a backend file of its own
// (tls_openssl.cpp). Owned by the transport's owning thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/transport.h"

namespace postil::platform {

// The plain stream under a session: the transport's non-blocking socket.
class TlsStream {
 public:
  // Neither side can go on before the socket becomes ready.
  static constexpr std::int64_t kWouldBlock = -2;

  virtual ~TlsStream() = default;
  // Bytes read (0: the peer closed), kWouldBlock, or -1 on an error.
  virtual std::int64_t RawReceive(char* buffer, std::size_t size) = 0;
  // Bytes taken, kWouldBlock, or -1 on an error.
  virtual std::int64_t RawSend(const char* data, std::size_t size) = 0;
};

// What the socket must become before a session call is worth trying again.
enum class TlsWait { kNone, kReadable, kWritable };

class TlsSession {
 public:
  virtual ~TlsSession() = default;
  // One round of the handshake: true when it is finished (and, for a
  // client, the server passed the settings' checks); false with `*wait` set
  // to retry later, or with `*wait` kNone and the failure in `err`.
  virtual bool Handshake(TlsWait* wait, ConnectError* err) = 0;
  // What the finished handshake agreed on.
  virtual TlsSessionInfo Info() const = 0;
  // Decrypted bytes, 0 after the peer's closing alert, kWouldBlock with
  // `*wait` set, or -1 (also for a stream cut without the closing alert).
  virtual std::int64_t Read(char* buffer, std::size_t size, TlsWait* wait) = 0;
  // Bytes taken, kWouldBlock with `*wait` set (offer the same bytes again),
  // or -1 on an error.
  virtual std::int64_t Write(const char* data, std::size_t size, TlsWait* wait) = 0;
  // True while decrypted bytes wait that the socket's readiness cannot show.
  virtual bool HasPending() const = 0;
  // Sends the closing alert once if the session is healthy; never waits.
  virtual void SendCloseNotify() = 0;
};

// A PEM file is a few certificates and a key, or a bundle of CA
// certificates; anything larger is not one.
constexpr std::size_t kMaxPemFileBytes = 1 << 20;

// The text of a PEM file the TLS settings name, read as the host files are:
// a regular file only, since opening a FIFO or a device could block the
// connection (and the state mutex it is opened under) for ever. False with
// the reason ("not a regular file"), which leaves naming the file to the
// caller.
bool ReadPemText(const std::string& path, std::string* text, std::string* reason);

// A client session over `stream` (which outlives it); nullptr with the
// failure in `err` when the settings cannot be loaded.
std::unique_ptr<TlsSession> StartTlsClient(TlsStream* stream, const TlsClientSettings& settings,
                                           ConnectError* err);
// A server session presenting the settings' certificate; nullptr with the
// reason in `err`.
std::unique_ptr<TlsSession> StartTlsServer(TlsStream* stream, const TlsServerSettings& settings,
                                           std::string* err);

}  // namespace postil::platform
