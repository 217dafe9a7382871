// The board's sockets, resolver and network configuration (commands 0x4323, 0x4331-0x433C).
#include "m4/network.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "m4/m4.h"
#include "m4/netlayer.h"

namespace {

struct NetSocket {
  bool in_use = false;
  bool accepting = false;       // a listening socket waiting for its client
  bool closed = false;          // the peer closed the connection
  bool paused = false;          // out of the set while its buffer is full
  TCPsocket socket = nullptr;   // the connection (or the listener until a client comes)
  TCPsocket listener = nullptr; // the listening socket once a client replaced it
  std::vector<uint8_t> buffer;  // RECEIVE_BUFFER_SIZE bytes
  int waiting = 0;              // received bytes at the buffer's front
  unsigned generation = 0;      // changes whenever the record is freed
};

struct Network {
  std::mutex socket_mutex;      // guards the records and the status area's contents
  SDLNet_SocketSet socket_set = nullptr;
  uint8_t* status = nullptr;    // the board's socket status area
  NetSocket sockets[m4::SOCKET_RECORDS];
  int in_use_count = 0;
  unsigned resolve_generation = 0;
  uint8_t config[m4::NETWORK_BLOCK_SIZE] = {};
};

// Made once and never freed: the detached threads may use it until the program ends.
Network* net = nullptr;

constexpr int CONFIG_DEVICE = 0x00;
constexpr int CONFIG_SSID = 0x10;
constexpr int CONFIG_PASSWORD = 0x30;
constexpr int CONFIG_IP = 0x70;
constexpr int CONFIG_MASK = 0x74;
constexpr int CONFIG_GATEWAY = 0x78;
constexpr int CONFIG_NAME_SERVER = 0x7C;
constexpr int CONFIG_HOST_NAME = 0x8C;
constexpr int CONFIG_MAC = 0xBE;
constexpr uint32_t DEFAULT_MASK = 0xFFFFFF00;
constexpr int MAX_LOCAL_ADDRESSES = 16;
constexpr uint8_t SIGNAL_OFF = 0x1F;
constexpr uint8_t SIGNAL_ON = 0xFF;
constexpr uint8_t RESOLVING = 1;
constexpr int RECEIVE_REPLY_HEADER = 6;  // size, code, status, count (2)
constexpr int CONFIG_REPLY_SIZE = 2 + m4::NETWORK_BLOCK_SIZE;

int word_at(const uint8_t* p) { return p[0] | (p[1] << 8); }

void put_status(int record, int field, uint8_t value) {
  if (!net->status) return;
  std::atomic_ref<uint8_t>(net->status[record * m4::SOCKET_STATUS_ENTRY + field])
      .store(value, std::memory_order_relaxed);
}

void put_status_ip(int record, uint32_t ip) {
  for (int i = 0; i < 4; ++i) put_status(record, m4::STATUS_IP + i, static_cast<uint8_t>(ip >> (24 - 8 * i)));
}

void put_status_waiting(int record, int waiting) {
  const int shown = std::min(waiting, 0xFFFF);
  put_status(record, m4::STATUS_WAITING, static_cast<uint8_t>(shown));
  put_status(record, m4::STATUS_WAITING + 1, static_cast<uint8_t>(shown >> 8));
}

void put_config_word(int at, uint32_t value) {
  for (int i = 0; i < 4; ++i) net->config[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void put_config_text(int at, const char* text) { std::memcpy(net->config + at, text, std::strlen(text)); }

void name_thread(const char* name) { pthread_setname_np(pthread_self(), name); }

// The host's first IPv4 address outside the loopback range, 0 when it has none.
uint32_t host_ip() {
  IPaddress found[MAX_LOCAL_ADDRESSES];
  const int count = SDLNet_GetLocalAddresses(found, MAX_LOCAL_ADDRESSES);
  for (int i = 0; i < count; ++i) {
    const uint32_t ip = SDLNet_IPv4(&found[i]);
    if (ip != 0 && (ip >> 24) != 127) return ip;
  }
  return 0;
}

void fill_defaults() {
  put_config_text(CONFIG_DEVICE, "CPC");
  put_config_text(CONFIG_SSID, "ArveloWiFi");
  put_config_text(CONFIG_PASSWORD, "milk stone");
  const uint32_t ip = host_ip();
  put_config_word(CONFIG_IP, ip);
  put_config_word(CONFIG_MASK, DEFAULT_MASK);
  put_config_word(CONFIG_GATEWAY, (ip & DEFAULT_MASK) | 1);
  put_config_word(CONFIG_NAME_SERVER, (ip & DEFAULT_MASK) | 1);
  put_config_text(CONFIG_HOST_NAME, "localhost");
  put_config_text(CONFIG_MAC, "abcdef");
}

// ---- Records (callers hold the socket mutex) -------------------------------------------------------

void drop_socket(TCPsocket& s) {
  if (!s) return;
  SDLNet_TCP_DelSocket(net->socket_set, s);
  SDLNet_TCP_Close(s);
  s = nullptr;
}

void free_record(int record) {
  NetSocket& r = net->sockets[record];
  drop_socket(r.socket);
  drop_socket(r.listener);
  if (r.in_use) --net->in_use_count;
  r.in_use = r.accepting = r.closed = r.paused = false;
  r.waiting = 0;
  ++r.generation;
}

bool valid_socket(int record) { return record >= 1 && record <= m4::CPC_SOCKETS && net->sockets[record].in_use; }

// The peer closed or the connection failed: the socket stays until the CPC closes it,
// but is no longer waited on.
void mark_closed(int record, uint8_t error) {
  NetSocket& r = net->sockets[record];
  r.closed = true;
  SDLNet_TCP_DelSocket(net->socket_set, r.socket);
  put_status(record, m4::STATUS_ERROR, error);
}

// ---- The network thread ----------------------------------------------------------------------------

void accept_client(int record) {
  NetSocket& r = net->sockets[record];
  TCPsocket client = SDLNet_TCP_Accept(r.socket);
  if (!client) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    std::cerr << "SDLNet_TCP_Accept: " << SDLNet_GetError() << std::endl;
    put_status(record, m4::STATUS_ERROR, m4::network_errno_status(errno));
    put_status(record, m4::STATUS_STATE, m4::STATE_ACCEPTED);
    return;
  }
  r.accepting = false;
  SDLNet_TCP_DelSocket(net->socket_set, r.socket);
  r.listener = r.socket;
  r.socket = client;
  SDLNet_TCP_AddSocket(net->socket_set, client);
  put_status(record, m4::STATUS_ERROR, 0);
  put_status(record, m4::STATUS_STATE, m4::STATE_ACCEPTED);
  put_status_ip(record, SDLNet_IPv4(SDLNet_TCP_GetPeerAddress(client)));
}

// Takes what has arrived, as much as the buffer holds; a full buffer leaves the set
// until 0x4335 makes room, so that the thread does not spin on it.
void receive_into(int record) {
  NetSocket& r = net->sockets[record];
  const int room = m4::RECEIVE_BUFFER_SIZE - r.waiting;
  if (room == 0) {
    SDLNet_TCP_DelSocket(net->socket_set, r.socket);
    r.paused = true;
    return;
  }
  const int n = SDLNet_TCP_Recv(r.socket, r.buffer.data() + r.waiting, room);
  if (n > 0) {
    r.waiting += n;
    put_status_waiting(record, r.waiting);
  } else if (n == 0) {
    mark_closed(record, m4::ERROR_PEER_CLOSED);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
    mark_closed(record, m4::network_errno_status(errno));
  }
}

void serve_ready_sockets() {
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  for (int record = 1; record <= m4::CPC_SOCKETS; ++record) {
    NetSocket& r = net->sockets[record];
    if (!r.in_use || !r.socket || r.closed || !SDLNet_SocketReady(r.socket)) continue;
    if (r.accepting) {
      accept_client(record);
    } else if (!SDLNet_TCP_GetPeerAddress(r.socket)) {
      continue;  // a listener nobody accepts on yet
    } else {
      receive_into(record);
    }
  }
}

void network_thread() {
  name_thread("network");
  for (;;) {
    const int ready = SDLNet_CheckSockets(net->socket_set, m4::NETWORK_POLL_MS);
    if (ready < 0) {
      std::cerr << "SDLNet_CheckSockets: " << SDLNet_GetError() << std::endl;
      std::this_thread::sleep_for(std::chrono::milliseconds(m4::NETWORK_POLL_MS));
    } else if (ready > 0) {
      serve_ready_sockets();
    }
  }
}

// ---- Worker threads ---------------------------------------------------------------------------------

void connect_thread(int record, unsigned generation, IPaddress address) {
  name_thread("netconnect");
  TCPsocket s = SDLNet_TCP_Open(&address);
  const int error = errno;
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  NetSocket& r = net->sockets[record];
  if (!r.in_use || r.generation != generation) {
    SDLNet_TCP_Close(s);  // the CPC closed the socket meanwhile
    return;
  }
  if (!s) {
    std::cerr << "SDLNet_TCP_Open: " << SDLNet_GetError() << " (errno=" << error << ")" << std::endl;
    put_status(record, m4::STATUS_ERROR, m4::network_errno_status(error));
    return;
  }
  drop_socket(r.socket);
  r.socket = s;
  r.closed = false;
  SDLNet_TCP_AddSocket(net->socket_set, s);
  SDLNet_WakeSockets(net->socket_set);
  put_status(record, m4::STATUS_ERROR, 0);
  put_status(record, m4::STATUS_STATE, m4::STATE_CONNECTED);
  put_status_ip(record, SDLNet_IPv4(&address));
}

void resolve_thread(std::string host, unsigned generation) {
  name_thread("hostresolve");
  IPaddress address;
  const bool found = SDLNet_ResolveHost(&address, host.c_str(), 0) == 0;
  const uint32_t ip = found ? SDLNet_IPv4(&address) : 0;
  if (found && ip == 0) std::cerr << "Resolved Host has no IPv4 address." << std::endl;
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (net->resolve_generation != generation) return;
  if (ip == 0) {
    put_status(0, m4::STATUS_ERROR, m4::ERR_FAILED);
    return;
  }
  put_status_ip(0, ip);
  put_status(0, m4::STATUS_ERROR, 0);
  put_status(0, m4::STATUS_STATE, m4::STATE_RESOLVED);
}

template <typename... Args>
bool start_worker(const char* what, Args&&... args) {
  try {
    std::thread(std::forward<Args>(args)...).detach();
    return true;
  } catch (const std::system_error& e) {
    std::cerr << "SDL_CreateThread: " << what << ": " << e.what() << std::endl;
    return false;
  }
}

// ---- Commands ---------------------------------------------------------------------------------------------

const uint8_t* params() { return m4::packet() + 3; }

void new_socket(int code) {
  if (!m4::wifi_enabled()) return m4::reply_status(code, m4::ERR_NETWORK_OFF);
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  for (int record = 1; record <= m4::CPC_SOCKETS; ++record) {
    NetSocket& r = net->sockets[record];
    if (r.in_use) continue;
    r.in_use = true;
    ++net->in_use_count;
    for (int f = 0; f < m4::SOCKET_STATUS_ENTRY; ++f) put_status(record, f, 0);
    put_status_ip(record, m4::network_ip());
    return m4::reply_status(code, static_cast<uint8_t>(record));
  }
  m4::reply_status(code, m4::ERR_FAILED);
}

void connect_socket(int code) {
  const int record = params()[0];
  IPaddress address{};
  std::snprintf(address.host, sizeof address.host, "%d.%d.%d.%d", params()[1], params()[2],
                params()[3], params()[4]);
  address.port = static_cast<uint16_t>(word_at(params() + 5));
  std::unique_lock<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record)) return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  put_status(record, m4::STATUS_ERROR, 0);
  put_status(record, m4::STATUS_STATE, 0);
  const unsigned generation = net->sockets[record].generation;
  hold.unlock();
  const bool started = start_worker("netconnect", connect_thread, record, generation, address);
  m4::reply_status(code, started ? m4::OK : m4::ERR_FAILED);
}

void close_socket(int code) {
  const int record = params()[0];
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record)) return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  free_record(record);
  SDLNet_WakeSockets(net->socket_set);
  m4::reply_status(code, m4::OK);
}

void send_data(int code) {
  const int record = params()[0];
  const int available = std::max(0, m4::packet_bytes() - 6);
  const int count = std::min(word_at(params() + 1), available);
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record) || !net->sockets[record].socket) return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  if (SDLNet_TCP_Send(net->sockets[record].socket, params() + 3, count) < count) {
    std::cerr << "SDLNet_TCP_Send: " << SDLNet_GetError() << std::endl;
    return m4::reply_status(code, m4::network_errno_status(errno));
  }
  m4::reply_status(code, m4::OK);
}

void receive_data(int code) {
  const int record = params()[0];
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record)) return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  NetSocket& r = net->sockets[record];
  const int n = std::min({word_at(params() + 1), r.waiting, m4::REPLY_SIZE - RECEIVE_REPLY_HEADER});
  uint8_t* data = m4::begin_reply(code, m4::OK);
  data[0] = static_cast<uint8_t>(n);
  data[1] = static_cast<uint8_t>(n >> 8);
  std::memcpy(data + 2, r.buffer.data(), n);
  std::memmove(r.buffer.data(), r.buffer.data() + n, r.waiting - n);
  r.waiting -= n;
  // The size byte counts the code, the status, the count and the data but one: n + 4.
  m4::finish_reply(n + 1);
  put_status_waiting(record, r.waiting);
  if (r.paused && n > 0) {
    r.paused = false;
    SDLNet_TCP_AddSocket(net->socket_set, r.socket);
    SDLNet_WakeSockets(net->socket_set);
  }
}

void resolve(int code) {
  if (!m4::wifi_enabled()) return m4::reply_status(code, m4::ERR_NETWORK_OFF);
  const int length = std::max(0, m4::packet_size() - 2);
  std::string host(reinterpret_cast<const char*>(params()), strnlen(reinterpret_cast<const char*>(params()), length));
  unsigned generation;
  {
    std::lock_guard<std::mutex> hold(net->socket_mutex);
    generation = ++net->resolve_generation;
    for (int f = 0; f < m4::SOCKET_STATUS_ENTRY; ++f) put_status(0, f, 0);
  }
  const bool started = start_worker("hostresolve", resolve_thread, host, generation);
  m4::reply_status(code, started ? RESOLVING : m4::ERR_FAILED);
}

void listen_socket(int code) {
  const int record = params()[0];
  IPaddress any{};
  any.port = static_cast<uint16_t>(word_at(params() + 5));
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record)) return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  TCPsocket s = SDLNet_TCP_Open(&any);
  if (!s) {
    std::cerr << "SDLNet_TCP_Open: " << SDLNet_GetError() << std::endl;
    return m4::reply_status(code, m4::network_errno_status(errno));
  }
  // The listener joins the set only once the CPC accepts on it: a client waiting before
  // that would otherwise keep the network thread's wait from ever sleeping.
  NetSocket& r = net->sockets[record];
  drop_socket(r.socket);
  drop_socket(r.listener);
  r.socket = s;
  r.closed = false;
  m4::reply_status(code, m4::OK);
}

void accept_socket(int code) {
  const int record = params()[0];
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record) || !net->sockets[record].socket ||
      SDLNet_TCP_GetPeerAddress(net->sockets[record].socket)) {
    return m4::reply_status(code, m4::ERR_BAD_SOCKET);
  }
  net->sockets[record].accepting = true;
  SDLNet_TCP_AddSocket(net->socket_set, net->sockets[record].socket);
  put_status(record, m4::STATUS_ERROR, 0);
  put_status(record, m4::STATUS_STATE, 0);
  SDLNet_WakeSockets(net->socket_set);
  m4::reply_status(code, m4::OK);
}

void mark_close_requested(int code) {
  const int record = params()[0];
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  if (!valid_socket(record) || !net->sockets[record].accepting) return m4::reply_status(code, m4::ERR_FAILED);
  put_status(record, m4::STATUS_ERROR, m4::ERROR_CLOSE_REQUESTED);
  put_status(record, m4::STATUS_STATE, m4::STATE_ACCEPTED);
  m4::reply_status(code, m4::OK);
}

void signal_strength(int code) { m4::reply_status(code, m4::wifi_enabled() ? SIGNAL_ON : SIGNAL_OFF); }

void configuration(int code) {
  uint8_t* r = m4::reply_area();
  r[0] = CONFIG_REPLY_SIZE;
  r[1] = static_cast<uint8_t>(code);
  r[2] = static_cast<uint8_t>(code >> 8);
  std::memcpy(r + 3, net->config, m4::NETWORK_BLOCK_SIZE);
}

void network_switch(int code) {
  const bool on = params()[0] != 0;
  m4_reset(on ? ResetKind::POWER_ON : ResetKind::APPLY_SETTINGS);
  m4::set_wifi_enabled(on);
  m4::reply_status(code, m4::OK);
}

void network_status(int code) {
  if (!m4::wifi_enabled()) return m4::reply_text(code, "");
  const uint32_t ip = m4::network_ip();
  char text[64];
  std::snprintf(text, sizeof text, "Got IP %u.%u.%u.%u\r\n", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
  m4::set_message(text);
  m4::reply_text(code, text);
}

struct Command {
  int code;
  void (*run)(int code);
};

constexpr Command SOCKET_COMMANDS[] = {
    {0x4323, network_status}, {0x4331, new_socket},    {0x4332, connect_socket},
    {0x4333, close_socket},   {0x4334, send_data},     {0x4335, receive_data},
    {0x4336, resolve},        {0x4337, signal_strength}, {0x4338, listen_socket},
    {0x4339, accept_socket},  {0x433A, mark_close_requested}, {0x433B, configuration},
    {0x433C, network_switch},
};

}  // namespace

namespace m4 {

int network_start() {
  constexpr int NO_SOCKET_SET = 2, NO_THREAD = 3;
  if (!net) {
    auto* made = new Network;
    made->socket_set = SDLNet_AllocSocketSet(CPC_SOCKETS);
    if (!made->socket_set) {
      std::cerr << "SDLNet_AllocSocketSet: " << SDLNet_GetError() << std::endl;
      return NO_SOCKET_SET;
    }
    for (NetSocket& r : made->sockets) r.buffer.assign(RECEIVE_BUFFER_SIZE, 0);
    net = made;
    if (!start_worker("network", network_thread)) return NO_THREAD;
  }
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  net->status = socket_status_area();
  return 0;
}

void network_reset(ResetKind kind) {
  if (!net) return;
  std::lock_guard<std::mutex> hold(net->socket_mutex);
  for (int record = 0; record < SOCKET_RECORDS; ++record) free_record(record);
  net->in_use_count = 0;
  ++net->resolve_generation;
  SDLNet_WakeSockets(net->socket_set);
  std::memset(net->config, 0, sizeof net->config);
  if (kind == ResetKind::POWER_ON) fill_defaults();
}

bool network_socket_command(int code) {
  if (!net) return false;
  for (const Command& c : SOCKET_COMMANDS) {
    if (c.code == code) {
      c.run(code);
      return true;
    }
  }
  return false;
}

const uint8_t* network_config() { return net ? net->config : nullptr; }

uint32_t network_ip() {
  if (!net) return 0;
  const uint8_t* ip = net->config + CONFIG_IP;
  return (uint32_t{ip[0]} << 24) | (ip[1] << 16) | (ip[2] << 8) | ip[3];
}

uint8_t network_errno_status(int error) {
  switch (error) {
    case EBADF: return 0xFA;
    case EOPNOTSUPP: return 0xF2;
    case EADDRINUSE: return 0xF8;
    case ENETDOWN: case ENOTCONN: return 0xF3;
    case ENETUNREACH: case ENETRESET: case EHOSTDOWN: case EHOSTUNREACH: return 0xFC;
    case ECONNRESET: return 0xF5;
    case EISCONN: return 0xF7;
    case ETIMEDOUT: return 0xFD;
    case ECONNREFUSED: return 0xF6;
    default: return 0xFF;
  }
}

}  // namespace m4
