// The few socket calls that differ between systems, for the TCP transport
// and listener of this folder only (never included outside src/platform/).
// Every socket is non-blocking; errors are the system's numbers. Any
// thread, as the socket's owner allows.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/transport.h"

namespace postil::platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// A numeric address and port as the system's socket calls take it.
struct SocketEndpoint {
  alignas(std::max_align_t) std::array<unsigned char, 128> storage{};
  int size = 0;
};

// What a wait asks for and what it found.
enum SocketEvents : unsigned {
  kSocketReadable = 1,
  kSocketWritable = 2,
  kSocketFailed = 4,  // a failed connect or a broken connection (found only)
};

// StartConnect(): the connection is on its way.
constexpr int kConnectPending = -1;

// Parses the numeric `address` (never a lookup) with `port`; false with the
// reason.
bool ParseEndpoint(const std::string& address, int port, SocketEndpoint* endpoint,
                   std::string* err);
// Every address the system's resolver gives for `name`, in its order; false
// with the reason.
bool ResolveEndpoints(const std::string& name, std::vector<SocketEndpoint>* found,
                      std::string* err);
// Numeric text of an endpoint's address (an IPv4 address mapped into IPv6
// reads as plain IPv4); empty when it cannot be shown.
std::string EndpointText(const SocketEndpoint& endpoint);

// A new non-blocking TCP socket for the endpoint's family, not inherited by
// child processes, with the options of a transport (no linger, no delay);
// kNoSocket with the error in `*error`.
SocketHandle OpenStreamSocket(const SocketEndpoint& endpoint, int* error);
// Starts connect(): 0 when connected, kConnectPending, else the error.
int StartConnect(SocketHandle socket, const SocketEndpoint& endpoint);
// The outcome of a connect the wait found finished (`found` as the wait
// said): 0 when connected, else the error.
int ConnectOutcome(SocketHandle socket, unsigned found);
// A refusal, a time-out or any other socket error, as the connect reports it.
ConnectError SocketFailure(int error);
// The error code that means the connect ran out of time.
int TimedOutError();
// The calling thread's last socket error.
int LastSocketError();

// Waits until the socket is ready for `events`, at most `time_out_ms`
// (negative: no limit), and says what was found in `*found`. Returns
// poll()'s count: 0 on a time-out or once `stop` is set, negative on an
// error. Ends soon after `stop` is set even where a shutdown() from another
// thread does not wake a wait.
int WaitSocket(SocketHandle socket, unsigned events, int time_out_ms,
               const std::atomic<bool>& stop, unsigned* found);

// Bytes read (0: the peer closed), TlsStream::kWouldBlock, or -1.
std::int64_t ReceiveSome(SocketHandle socket, char* buffer, std::size_t size);
// Bytes taken, TlsStream::kWouldBlock, or -1; never raises a signal.
std::int64_t SendSome(SocketHandle socket, const char* data, std::size_t size);
void ShutdownSocket(SocketHandle socket);
void CloseSocket(SocketHandle socket);
// Numeric addresses of the two ends; empty when they cannot be had.
std::string LocalAddressOf(SocketHandle socket);
std::string PeerAddressOf(SocketHandle socket);

// A listening socket on the endpoint (an IPv6 one for IPv6 only, the port
// not shared with another socket), its port in `*port`; kNoSocket with the
// reason.
SocketHandle OpenListeningSocket(const SocketEndpoint& endpoint, int* port, std::string* err);
// The next connection of a listening socket the wait found readable,
// non-blocking with a transport's options; kNoSocket when there is none.
SocketHandle AcceptSocket(SocketHandle listener);

// Takes ownership of a connected, non-blocking socket as a Transport.
std::unique_ptr<Transport> AdoptTcpSocket(SocketHandle socket);

}  // namespace postil::platform
