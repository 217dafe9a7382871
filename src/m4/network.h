// The M4 board's network as CPC programs see it: TCP sockets, a name resolver, the
// WiFi-like network configuration and the network status text.
//
// Socket records 1-4 are handed to the CPC (record 0 carries name resolutions). Each has
// a 204,800-byte receive buffer that the detached "network" thread fills, under the
// socket mutex, from whatever arrives; command 0x4335 takes bytes from its front under
// the same mutex. Connecting and resolving run on short-lived threads ("netconnect",
// "hostresolve") so that the CPC is never held up; they, like the network thread, leave
// their results in the socket status area of the board's ROM, which the CPC polls.
// Status bytes are written with relaxed atomic stores: the CPC reads them whenever it likes.
#pragma once
#include <cstdint>

#include "config/settings.h"

namespace m4 {
constexpr int SOCKET_RECORDS = 5;
constexpr int CPC_SOCKETS = 4;               // records 1-4
constexpr int RECEIVE_BUFFER_SIZE = 204800;
constexpr int SOCKET_STATUS_ENTRY = 16;
constexpr int NETWORK_BLOCK_SIZE = 196;      // the configuration and the word after it
constexpr int NETWORK_POLL_MS = 1000;

// Socket status entry fields.
constexpr int STATUS_ERROR = 0;
constexpr int STATUS_STATE = 1;
constexpr int STATUS_WAITING = 2;            // 16-bit little-endian
constexpr int STATUS_IP = 4;                 // first byte most significant
constexpr uint8_t STATE_RESOLVED = 2;
constexpr uint8_t STATE_CONNECTED = 3;
constexpr uint8_t STATE_ACCEPTED = 4;
constexpr uint8_t ERROR_PEER_CLOSED = 3;
constexpr uint8_t ERROR_CLOSE_REQUESTED = 4;

// Network error codes.
constexpr uint8_t ERR_BAD_SOCKET = 0xFA;

// Creates the socket set, the mutex and the network thread the first time; later calls
// only point the thread at the board's current socket status area. 0 when ready; after a
// message naming what failed, 2 when the socket set cannot be made, 3 when the thread
// cannot (the program's exit status then).
int network_start();
// The board's reset: closes every socket, clears the records and the configuration;
// a power-on reset fills the configuration with its defaults.
void network_reset(ResetKind kind);
// Runs network command `code` of the packet being executed; false when it is not one.
bool network_socket_command(int code);
// The configuration block (NETWORK_BLOCK_SIZE bytes).
const uint8_t* network_config();
// The board's IPv4 address from the configuration, first byte most significant.
uint32_t network_ip();
// The board's error status for a network errno.
uint8_t network_errno_status(int error);
}  // namespace m4
