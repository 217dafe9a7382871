// The program's own socket layer on POSIX sockets. Its operations keep the names and
// meanings of the SDL_net interface the M4 board code is written against: addresses by
// getaddrinfo, TCP client and listening sockets, socket sets waited on with select.
//
// Differences a caller must know: an address holds the numeric host text (empty for
// "any address") and the port in host order; SDLNet_TCP_Recv never waits (-1 with errno
// EAGAIN when nothing has arrived), because the board's network thread receives under
// a mutex and must never block there; the error text is kept per thread, and errno is
// left as the failing call set it, for the board's error codes.
#pragma once
#include <cstdint>

struct sockaddr;

constexpr int IP_TEXT_SIZE = 64;

struct IPaddress {
  char host[IP_TEXT_SIZE];  // numeric host text, "" for any local address
  uint16_t port;
};

struct TCPsocketRecord;
using TCPsocket = TCPsocketRecord*;
struct SocketSetRecord;
using SDLNet_SocketSet = SocketSetRecord*;

// Prepares the layer (reference counted): sockets must not raise SIGPIPE when a peer
// goes away, and the host must be able to create a TCP socket. 0 on success, -1 with
// the reason in SDLNet_GetError().
int SDLNet_Init();
void SDLNet_Quit();
const char* SDLNet_GetError();
void SDLNet_SetError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fills `address` for host (nullptr: any local address) and port. 0 or -1. IPv4
// addresses are preferred when a name has both kinds.
int SDLNet_ResolveHost(IPaddress* address, const char* host, uint16_t port);
// A client connection when the address has a host, else a listening socket on its port.
TCPsocket SDLNet_TCP_Open(const IPaddress* address);
// The next waiting client of a listening socket, nullptr when none (or on failure).
TCPsocket SDLNet_TCP_Accept(TCPsocket server);
// The peer of a connected socket; nullptr for a listening one.
const IPaddress* SDLNet_TCP_GetPeerAddress(TCPsocket socket);
// Sends all `length` bytes; returns the bytes sent (less than length on failure, also
// when the peer has taken nothing for two seconds).
int SDLNet_TCP_Send(TCPsocket socket, const void* data, int length);
// Up to max_length bytes that have arrived; 0 when the peer closed, -1 otherwise.
int SDLNet_TCP_Recv(TCPsocket socket, void* data, int max_length);
void SDLNet_TCP_Close(TCPsocket socket);

// A set of up to `capacity` sockets waited on together. Adding, removing and waiting may
// happen on different threads.
SDLNet_SocketSet SDLNet_AllocSocketSet(int capacity);
void SDLNet_FreeSocketSet(SDLNet_SocketSet set);
int SDLNet_TCP_AddSocket(SDLNet_SocketSet set, TCPsocket socket);  // sockets in set, or -1
int SDLNet_TCP_DelSocket(SDLNet_SocketSet set, TCPsocket socket);
// Waits up to timeout_ms for data (or a client) on any socket of the set; the number of
// ready sockets, 0 on timeout or wake-up, -1 on failure.
int SDLNet_CheckSockets(SDLNet_SocketSet set, uint32_t timeout_ms);
// Ends a wait in SDLNet_CheckSockets early, so that a changed set is waited on at once.
void SDLNet_WakeSockets(SDLNet_SocketSet set);
// True when the last SDLNet_CheckSockets found the socket ready.
bool SDLNet_SocketReady(TCPsocket socket);

// The host's IPv4 interface addresses, at most max_count; the number found.
int SDLNet_GetLocalAddresses(IPaddress* addresses, int max_count);
// Address conversions; 0 or -1.
int SDLNet_SocktoIP(const sockaddr* socket_address, IPaddress* address);
int SDLNet_IPtoSock(const IPaddress* address, sockaddr* socket_address, unsigned* length);
// The IPv4 address of an address's host text, first byte most significant; 0 when the
// text is no IPv4 address.
uint32_t SDLNet_IPv4(const IPaddress* address);
