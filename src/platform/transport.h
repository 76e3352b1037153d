// The byte stream under a line channel: TCP to every address of a name in
// turn, and TLS on top of it (from the first byte, or after the protocol's
// STARTTLS) through the platform's TLS library, so that the protocol code
// never sees either. Owned by one thread, except Shutdown(), which any
// thread may call to make every pending and later wait fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace postil {

enum class WaitResult { kReady, kTimeOut, kError };

// Why a connection could not be made or secured.
enum class ConnectFailure {
  kNone,
  kNameNotResolved,
  kRefused,
  kTimedOut,
  kNetwork,  // any other socket error (unreachable, port out of range ...)
  kTlsHandshake,
  kCertificateNotTrusted,
  kNameMismatch,
  kFingerprintMismatch,
  kStartTlsNotOffered,
};

struct ConnectError {
  ConnectFailure failure = ConnectFailure::kNone;
  std::string detail;  // the system's or the TLS library's reason, may be empty
};

// How a client checks the server it secures a connection to.
struct TlsClientSettings {
  // The server as configured: sent as SNI when it is a name, and checked
  // against the certificate (name or IP address).
  std::string server_name;
  // A PEM file of trusted CA certificates instead of the system's store;
  // empty: the system's store.
  std::string ca_file;
  // SHA-256 of the server certificate, 64 hex digits, upper case, no
  // separators. When set it alone decides: chain and name are not checked.
  std::string fingerprint;
};

// The certificate and key a server presents (PEM files).
struct TlsServerSettings {
  std::string certificate_file;
  std::string key_file;
};

// What a finished handshake agreed on.
struct TlsSessionInfo {
  std::string protocol;     // "TLSv1.3"
  std::string cipher;       // "TLS_AES_256_GCM_SHA384"
  std::string subject;      // the server certificate's subject, one line
  std::string fingerprint;  // its SHA-256, "AB:CD:..." (what the settings accept)
};

class Transport {
 public:
  // Receive() when no byte can be handed out yet although the stream was
  // readable (a TLS record not yet complete): wait again. Bytes did arrive,
  // so the wait has made progress.
  static constexpr std::int64_t kReceiveAgain = -2;

  virtual ~Transport() = default;
  // Tries every address of `host` (IPv6 and IPv4, in the resolver's order)
  // until one connects, all within `time_out_ms` (never longer: 0 leaves
  // each address a moment only). False with the cause of the last failure.
  virtual bool Connect(std::string_view host, int port, int time_out_ms, ConnectError* err) = 0;
  virtual bool IsConnected() const = 0;
  // Runs the client side of a TLS handshake on the open connection and
  // checks the server as `settings` say, all within `time_out_ms` (never
  // longer). On failure the connection is unusable and the caller closes it.
  virtual bool SecureAsClient(const TlsClientSettings& settings, int time_out_ms,
                              TlsSessionInfo* info, ConnectError* err) = 0;
  // The server side, for the local test and demo servers.
  virtual bool SecureAsServer(const TlsServerSettings& settings, int time_out_ms,
                              std::string* err) = 0;
  virtual bool IsSecured() const = 0;
  // Waits until the stream is readable (or writable), at most `time_out_ms`.
  virtual WaitResult WaitReadable(int time_out_ms) = 0;
  virtual WaitResult WaitWritable(int time_out_ms) = 0;
  // Bytes received (0: the peer closed cleanly), kReceiveAgain, or -1 on an
  // error. A TLS stream cut without its closing alert is an error.
  virtual std::int64_t Receive(char* buffer, std::size_t size) = 0;
  // Bytes taken (maybe fewer than given, 0: wait until writable and offer
  // the same bytes again), or -1 on an error.
  virtual std::int64_t Send(const char* data, std::size_t size) = 0;
  virtual void Shutdown() = 0;
  virtual void Close() = 0;
  // Handle for display and for "is connected" tests; 0 when not connected.
  virtual std::intptr_t Handle() const = 0;
  // Numeric address of the local end (IPv4 dotted, or IPv6 text), as
  // Channel::LocalIpAddress says.
  virtual std::string LocalAddress() const = 0;
  // Numeric address of the server connected to; empty when not connected.
  virtual std::string RemoteAddress() const = 0;
};

// The numeric addresses of `host` in the order to try them; empty with the
// reason in `err` when the name is unknown. A numeric host is its own
// address.
using HostResolver =
    std::function<std::vector<std::string>(std::string_view host, std::string* err)>;

// The system's resolver (getaddrinfo): IPv6 and IPv4 addresses.
std::vector<std::string> SystemResolve(std::string_view host, std::string* err);

// TCP with TCP_NODELAY, to the addresses `resolver` gives; TLS on request.
// Tests pass their own resolver, so no test asks a name server.
std::unique_ptr<Transport> MakeTcpTransport(HostResolver resolver = SystemResolve);

// The text a user reads for `failure` ("connection refused").
std::string_view ConnectFailureText(ConnectFailure failure);

// The TLS library's name and version, for the program's build description;
// empty without one.
std::string TlsLibraryVersion();

}  // namespace postil
