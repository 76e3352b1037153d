// The TLS backend of a build without a TLS library: every handshake is
// refused with the reason, so a secured account fails like an unreachable
// one instead of sending anything in the clear.
#include "platform/tls_layer.h"

namespace postil::platform {
namespace {

constexpr const char* kUnavailable = "TLS not available in this build";

}  // namespace

std::unique_ptr<TlsSession> StartTlsClient(TlsStream*, const TlsClientSettings&,
                                           ConnectError* err) {
  if (err) *err = {ConnectFailure::kTlsHandshake, kUnavailable};
  return nullptr;
}

std::unique_ptr<TlsSession> StartTlsServer(TlsStream*, const TlsServerSettings&,
                                           std::string* err) {
  if (err) *err = kUnavailable;
  return nullptr;
}

}  // namespace postil::platform

namespace postil {

std::string TlsLibraryVersion() { return {}; }

}  // namespace postil
