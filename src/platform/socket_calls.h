// The socket calls the library makes, behind one interface free of system headers: the
// components above open, bind, connect, send and receive through these, so their logic is one
// portable file and the operating-system halves stay here (socket_calls_posix.cpp: BSD sockets;
// socket_calls_windows.cpp: Winsock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ipv4_endpoint.h"
#include "platform/unique_fd.h"

namespace halvex::platform {

// Every function is stateless and may run on any thread. An error code is the system's own
// (errno, or WSAGetLastError on Windows), for errnoIndicates() and the predicates below. Winsock
// must be started (SocketLibrary) by the caller on Windows.

// The calling thread's last socket error.
int lastSocketError();

// Nothing waits on a non-blocking socket, or a non-blocking connect has begun.
bool wouldBlock(int error);
// The local port is taken or not usable here: try another.
bool portUnavailable(int error);
// The connection is of no further use.
bool connectionBroken(int error);
// A datagram socket reports an earlier send that found no listener or no route; it says
// nothing of the socket itself.
bool reportsEarlierSend(int error);

enum class SocketType { Datagram, Stream };

// A non-blocking, close-on-exec IPv4 socket; invalid on failure (lastSocketError() says why).
UniqueFd openSocket(SocketType type);
// Both true on success; on failure lastSocketError() says why.
bool allowBroadcast(Descriptor socket);
bool reuseAddress(Descriptor socket);
bool bindTo(Descriptor socket, const Ipv4Endpoint& local);
// The address and port the socket is bound to; port 0 when it cannot be read.
Ipv4Endpoint localEndpoint(Descriptor socket);

enum class ConnectStatus { Connected, Pending, Failed };
// Connects (a datagram socket: sets its peer). Pending: a non-blocking connect goes on, and the
// socket turns writable when it ends. On Failed, `error` holds the code.
ConnectStatus connectTo(Descriptor socket, const Ipv4Endpoint& peer, int& error);
// The outcome of a pending connect: 0 when it succeeded, else the error.
int connectOutcome(Descriptor socket);

// Asks for a receive buffer of `wanted` bytes, forced past the system's limit where the process
// may; the size granted, or -1 when the request failed (lastSocketError() says why).
int requestReceiveBuffer(Descriptor socket, int wanted);
// The receive buffer the system granted, 0 when it cannot be read.
int receiveBufferSize(Descriptor socket);

// What one datagram receive found.
struct ReceivedDatagram {
    enum class Kind {
        Datagram,  // `length` bytes arrived from `source`
        Nothing,   // nothing waits: the socket is drained
        Oversized, // a datagram longer than the buffer arrived and was discarded
        Failed,    // the receive failed; `error` says why
    };
    Kind kind = Kind::Nothing;
    std::size_t length = 0;
    Ipv4Endpoint source;
    int error = 0;
};

// Takes one datagram without waiting; a datagram that does not fit is consumed whole and reported
// as Oversized, never cut short. A signal does not fail it.
ReceivedDatagram receiveDatagram(Descriptor socket, std::span<uint8_t> buffer);
// Sends one datagram without raising a signal; the bytes sent, or -1 (lastSocketError() says why).
long sendDatagram(Descriptor socket, std::span<const uint8_t> datagram, const Ipv4Endpoint& target);
// Reads what a stream socket holds, up to `buffer.size()` bytes, without waiting: the count, 0 at
// the peer's orderly close, -1 on error (lastSocketError() says why). A signal does not fail it.
long receiveStream(Descriptor socket, std::span<uint8_t> buffer);

} // namespace halvex::platform
