#include "m4/netlayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

struct TCPsocketRecord {
  int fd = -1;
  bool server = false;      // a listening socket
  IPaddress remote{};       // the peer of a client connection
  std::atomic<bool> ready{false};
};

struct SocketSetRecord {
  int capacity = 0;
  std::mutex lock;                  // guards `sockets`
  std::vector<TCPsocket> sockets;
  int wake[2] = {-1, -1};           // a pipe whose read end ends a wait early
};

namespace {
std::atomic<int> init_count{0};
thread_local char error_text[512] = "";
constexpr int LISTEN_BACKLOG = 5;
// A peer that stops reading fills the host's send buffer; a send then waits at most this
// long (and fails with EAGAIN), so that the caller is never held up for good.
constexpr int SEND_TIMEOUT_S = 2;

void limit_send_time(int fd) {
  timeval limit{SEND_TIMEOUT_S, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Layer errors keep errno as the failing call left it: the board turns it into a status.
void fail(const char* what) {
  const int saved = errno;
  SDLNet_SetError("%s", what);
  errno = saved;
}

bool set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

TCPsocket open_client(const IPaddress* address) {
  sockaddr_storage target{};
  unsigned length = 0;
  if (SDLNet_IPtoSock(address, reinterpret_cast<sockaddr*>(&target), &length) != 0) return nullptr;
  const int fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fail("Couldn't create socket");
    return nullptr;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&target), length) != 0) {
    fail("Couldn't connect to remote host");
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  limit_send_time(fd);
  auto* s = new TCPsocketRecord;
  s->fd = fd;
  s->remote = *address;
  return s;
}

TCPsocket open_server(const IPaddress* address) {
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(address->port);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fail("Couldn't create socket");
    return nullptr;
  }
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const char* failure = nullptr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    failure = "Couldn't bind to local port";
  } else if (::listen(fd, LISTEN_BACKLOG) != 0) {
    failure = "Couldn't listen to local port";
  } else if (!set_nonblocking(fd)) {
    failure = "Couldn't create socket";
  }
  if (failure) {
    fail(failure);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  auto* s = new TCPsocketRecord;
  s->fd = fd;
  s->server = true;
  return s;
}

void drain(int fd) {
  char sink[64];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
}
}  // namespace

void SDLNet_SetError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(error_text, sizeof error_text, format, args);
  va_end(args);
}

const char* SDLNet_GetError() { return error_text; }

int SDLNet_Init() {
  if (init_count.load() == 0) {
    // A write to a socket whose peer has gone must fail with EPIPE, not end the program.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
      SDLNet_SetError("cannot ignore SIGPIPE: %s", std::strerror(errno));
      return -1;
    }
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) {
      SDLNet_SetError("Couldn't create socket: %s", std::strerror(errno));
      return -1;
    }
    ::close(probe);
  }
  ++init_count;
  return 0;
}

void SDLNet_Quit() {
  int count = init_count.load();
  while (count > 0 && !init_count.compare_exchange_weak(count, count - 1)) {
  }
}

// ---- Addresses -------------------------------------------------------------------------------

int SDLNet_ResolveHost(IPaddress* address, const char* host, uint16_t port) {
  *address = IPaddress{};
  address->port = port;
  if (!host) return 0;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host, nullptr, &hints, &found);
  if (error != 0) {
    SDLNet_SetError("getaddrinfo failed with error %d: %s\n", error, gai_strerror(error));
    return -1;
  }
  const addrinfo* chosen = found;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      chosen = a;
      break;
    }
  }
  const int result = SDLNet_SocktoIP(chosen->ai_addr, address);
  address->port = port;
  freeaddrinfo(found);
  return result;
}

int SDLNet_SocktoIP(const sockaddr* socket_address, IPaddress* address) {
  unsigned length = 0;
  if (socket_address->sa_family == AF_INET) {
    length = sizeof(sockaddr_in);
    address->port = ntohs(reinterpret_cast<const sockaddr_in*>(socket_address)->sin_port);
  } else if (socket_address->sa_family == AF_INET6) {
    length = sizeof(sockaddr_in6);
    address->port = ntohs(reinterpret_cast<const sockaddr_in6*>(socket_address)->sin6_port);
  } else {
    SDLNet_SetError("Wrong Family Type : SDLNet_SocktoIP \n");
    return -1;
  }
  const int error = getnameinfo(socket_address, length, address->host, sizeof address->host,
                                nullptr, 0, NI_NUMERICHOST);
  if (error != 0) {
    SDLNet_SetError("getnameinfo fails with Err value: %d\n", error);
    return -1;
  }
  return 0;
}

int SDLNet_IPtoSock(const IPaddress* address, sockaddr* socket_address, unsigned* length) {
  auto* v4 = reinterpret_cast<sockaddr_in*>(socket_address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(socket_address);
  if (address->host[0] == 0) {
    *v4 = sockaddr_in{};
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, address->host, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, address->host, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(address->port);
    v6->sin6_flowinfo = 0;
    v6->sin6_scope_id = 0;
    *length = sizeof(sockaddr_in6);
    return 0;
  } else {
    SDLNet_SetError("Wrong Family Type : SDLNet_IPtoSock \n");
    return -1;
  }
  v4->sin_port = htons(address->port);
  *length = sizeof(sockaddr_in);
  return 0;
}

uint32_t SDLNet_IPv4(const IPaddress* address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address->host, &v4) != 1) return 0;
  return ntohl(v4.s_addr);
}

int SDLNet_GetLocalAddresses(IPaddress* addresses, int max_count) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  int count = 0;
  for (const ifaddrs* i = list; i && count < max_count; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (SDLNet_SocktoIP(i->ifa_addr, &addresses[count]) == 0) ++count;
  }
  freeifaddrs(list);
  return count;
}

// ---- TCP sockets ----------------------------------------------------------------------------------

TCPsocket SDLNet_TCP_Open(const IPaddress* address) {
  return address->host[0] ? open_client(address) : open_server(address);
}

TCPsocket SDLNet_TCP_Accept(TCPsocket server) {
  if (!server->server) {
    SDLNet_SetError("Only server sockets can accept()");
    return nullptr;
  }
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept4(server->fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    fail("accept() failed");
    return nullptr;
  }
  limit_send_time(fd);
  auto* s = new TCPsocketRecord;
  s->fd = fd;
  if (SDLNet_SocktoIP(reinterpret_cast<sockaddr*>(&peer), &s->remote) != 0) {
    SDLNet_SetError("Error in getsockname.");
  }
  return s;
}

const IPaddress* SDLNet_TCP_GetPeerAddress(TCPsocket socket) {
  if (socket->server) return nullptr;
  return &socket->remote;
}

int SDLNet_TCP_Send(TCPsocket socket, const void* data, int length) {
  if (socket->server) {
    SDLNet_SetError("Server sockets cannot send");
    errno = EOPNOTSUPP;
    return -1;
  }
  const auto* bytes = static_cast<const char*>(data);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(SEND_TIMEOUT_S);
  int sent = 0;
  while (sent < length) {
    if (sent > 0 && std::chrono::steady_clock::now() >= deadline) {
      errno = ETIMEDOUT;  // each call may wait the whole time; all of them together may not
      SDLNet_SetError("%s", std::strerror(errno));
      break;
    }
    const ssize_t n = ::send(socket->fd, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SDLNet_SetError("%s", std::strerror(errno));
      break;
    }
    sent += static_cast<int>(n);
  }
  return sent;
}

int SDLNet_TCP_Recv(TCPsocket socket, void* data, int max_length) {
  if (socket->server) {
    SDLNet_SetError("Server sockets cannot receive");
    errno = EOPNOTSUPP;
    return -1;
  }
  ssize_t n;
  do {
    n = ::recv(socket->fd, data, max_length, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) fail(std::strerror(errno));
  return static_cast<int>(n);
}

void SDLNet_TCP_Close(TCPsocket socket) {
  if (!socket) return;
  ::close(socket->fd);
  delete socket;
}

// ---- Socket sets --------------------------------------------------------------------------------

SDLNet_SocketSet SDLNet_AllocSocketSet(int capacity) {
  auto* set = new SocketSetRecord;
  set->capacity = capacity;
  if (::pipe2(set->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    SDLNet_SetError("%s", std::strerror(errno));
    delete set;
    return nullptr;
  }
  return set;
}

void SDLNet_FreeSocketSet(SDLNet_SocketSet set) {
  if (!set) return;
  ::close(set->wake[0]);
  ::close(set->wake[1]);
  delete set;
}

int SDLNet_TCP_AddSocket(SDLNet_SocketSet set, TCPsocket socket) {
  std::lock_guard<std::mutex> hold(set->lock);
  if (static_cast<int>(set->sockets.size()) >= set->capacity) {
    SDLNet_SetError("socketset is full");
    return -1;
  }
  set->sockets.push_back(socket);
  return static_cast<int>(set->sockets.size());
}

int SDLNet_TCP_DelSocket(SDLNet_SocketSet set, TCPsocket socket) {
  std::lock_guard<std::mutex> hold(set->lock);
  const auto at = std::find(set->sockets.begin(), set->sockets.end(), socket);
  if (at == set->sockets.end()) {
    SDLNet_SetError("socket not found in socketset");
    return -1;
  }
  set->sockets.erase(at);
  return static_cast<int>(set->sockets.size());
}

void SDLNet_WakeSockets(SDLNet_SocketSet set) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(set->wake[1], &byte, 1);
}

// The descriptors are copied under the set's lock and waited on without it; readiness
// is marked only on sockets still in the set afterwards (one removed meanwhile may be
// closed and freed already, so it is never touched).
int SDLNet_CheckSockets(SDLNet_SocketSet set, uint32_t timeout_ms) {
  std::vector<pollfd> waits;
  std::vector<TCPsocket> sockets;
  waits.push_back({set->wake[0], POLLIN, 0});
  {
    std::lock_guard<std::mutex> hold(set->lock);
    sockets = set->sockets;
    for (TCPsocket s : sockets) waits.push_back({s->fd, POLLIN, 0});
  }
  int n;
  do {
    n = ::poll(waits.data(), waits.size(), static_cast<int>(timeout_ms));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail(std::strerror(errno));
    return -1;
  }
  if (waits[0].revents) drain(set->wake[0]);
  std::lock_guard<std::mutex> hold(set->lock);
  int ready = 0;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (std::find(set->sockets.begin(), set->sockets.end(), sockets[i]) == set->sockets.end()) continue;
    const bool is_ready = waits[i + 1].revents != 0;
    sockets[i]->ready = is_ready;
    ready += is_ready;
  }
  return ready;
}

bool SDLNet_SocketReady(TCPsocket socket) { return socket && socket->ready; }
