// The board's sockets and resolver, driven by packets as CPC software sends them, against
// peers on the loopback interface only.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <thread>

#include "m4/m4_fixture.h"
#include "m4/network.h"

using namespace m4test;

namespace {

constexpr uint8_t LOOPBACK[] = {127, 0, 0, 1};

int connect_loopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

class Network : public StartedBoard {
 protected:
  // A status byte as the CPC polls it while the network threads write it.
  static uint8_t status_byte(int record, int field) {
    auto* area = const_cast<uint8_t*>(m4_board().rom_image) + (SOCKETS_ADDRESS - m4::ROM_BASE);
    return std::atomic_ref<uint8_t>(area[record * m4::SOCKET_STATUS_ENTRY + field]).load();
  }
  static int waiting(int record) {
    return status_byte(record, m4::STATUS_WAITING) | (status_byte(record, m4::STATUS_WAITING + 1) << 8);
  }
  static Bytes status_ip(int record) {
    Bytes ip;
    for (int i = 0; i < 4; ++i) ip.push_back(status_byte(record, m4::STATUS_IP + i));
    return ip;
  }
  static bool wait_for(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  static uint8_t new_socket() { return send(0x4331)[3]; }
  // A CPC socket connected to a local listener, with the listener and the host's end.
  struct Connection {
    uint8_t socket;
    int server, peer;
    uint16_t port;
  };
  static uint8_t cpc_connect(uint8_t s, uint16_t port) {
    const uint8_t lo = static_cast<uint8_t>(port), hi = static_cast<uint8_t>(port >> 8);
    return send(0x4332, {s, 127, 0, 0, 1, lo, hi})[3];
  }
  static void connect_to_listener(Connection& c) {
    c.server = listen_loopback(&c.port);
    c.socket = new_socket();
    EXPECT_EQ(cpc_connect(c.socket, c.port), 0);
    const uint8_t s = c.socket;
    ASSERT_TRUE(wait_for([&] { return status_byte(s, m4::STATUS_STATE) == m4::STATE_CONNECTED; }));
    EXPECT_EQ(status_ip(s), Bytes(LOOPBACK, LOOPBACK + 4));
    c.peer = accept(c.server, nullptr, nullptr);
  }
  static uint8_t send_bytes(uint8_t s, const std::string& data) {
    Bytes p{s, static_cast<uint8_t>(data.size()), 0};
    p.insert(p.end(), data.begin(), data.end());
    return send(0x4334, p)[3];
  }
  // The bytes a receive of `count` returns, after checking the reply's shape.
  static std::string receive(uint8_t s, int count) {
    send(0x4335, {s, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
    const uint8_t* r = reply_area();
    const int n = r[4] | (r[5] << 8);
    EXPECT_EQ(r[0], static_cast<uint8_t>(n + 4));  // one byte: the count is in bytes 4-5
    EXPECT_EQ(r[3], 0);
    if (n > count) return "(more than asked)";
    return std::string(reply_area() + 6, reply_area() + 6 + n);
  }
};

TEST_F(Network, OffOnAndConfiguration) {
  // Network off: no sockets, resolver, signal or configuration; on: localhost resolves.
  EXPECT_EQ(send(0x433C, {0}), (Bytes{3, 0x3C, 0x43, 0}));
  EXPECT_EQ(send(0x4331), (Bytes{3, 0x31, 0x43, 0xF3}));
  EXPECT_EQ(send_text(0x4336, {}, {"localhost"}), (Bytes{3, 0x36, 0x43, 0xF3}));
  EXPECT_EQ(send(0x4337), (Bytes{3, 0x37, 0x43, 0x1F}));
  EXPECT_EQ(m4::network_config()[0], 0);

  send(0x433C, {1});
  EXPECT_EQ(send(0x4337), (Bytes{3, 0x37, 0x43, 0xFF}));
  EXPECT_EQ(send_text(0x4336, {}, {"localhost"}), (Bytes{3, 0x36, 0x43, 1}));
  ASSERT_TRUE(wait_for([] { return status_byte(0, m4::STATUS_STATE) == m4::STATE_RESOLVED; }));
  EXPECT_EQ(status_ip(0), Bytes(LOOPBACK, LOOPBACK + 4));
  EXPECT_EQ(status_byte(0, m4::STATUS_ERROR), 0);
  const Bytes c = send(0x433B);
  ASSERT_EQ(c.size(), 1u + 0xC6);
  EXPECT_EQ(c[1], 0x3B);
  const uint8_t* block = c.data() + 3;
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 0x00), "CPC");
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 0x10), "ArveloWiFi");
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 0x30), "milk stone");
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 0x8C), "localhost");
  // Net mask, then gateway and name server: the board's address with its last byte 1.
  const uint8_t* ip = block + 0x70;
  EXPECT_EQ(Bytes(block + 0x74, block + 0x80),
            (Bytes{255, 255, 255, 0, ip[0], ip[1], ip[2], 1, ip[0], ip[1], ip[2], 1}));
  EXPECT_NE(ip[0], 127);
  EXPECT_EQ(std::string(block + 0xBE, block + 0xC4), "abcdef");

  char text[64];
  std::snprintf(text, sizeof text, "Got IP %d.%d.%d.%d\r\n", ip[0], ip[1], ip[2], ip[3]);
  send(0x4323);
  EXPECT_EQ(reply_text(), text);
  EXPECT_EQ(std::string(m4_board().message), text);

  // The host's local time, "%H:%M:%S %Y-%m-%d".
  const std::time_t before = std::time(nullptr);
  send(0x4324);
  std::tm shown{};
  ASSERT_NE(strptime(reply_text().c_str(), "%H:%M:%S %Y-%m-%d", &shown), nullptr) << reply_text();
  shown.tm_isdst = -1;
  EXPECT_LE(std::abs(std::difftime(std::mktime(&shown), before)), 2.0);
  EXPECT_EQ(reply_text().size(), 19u);
}

TEST_F(Network, SocketRecordsAreHandedOutOncePerSocket) {
  for (uint8_t expected = 1; expected <= 4; ++expected) EXPECT_EQ(new_socket(), expected);
  EXPECT_EQ(new_socket(), 0xFF);  // a fifth
  EXPECT_EQ(send(0x4333, {2})[3], 0);
  EXPECT_EQ(new_socket(), 2);
  // Socket numbers the CPC was not given are refused by every socket command.
  send(0x4333, {3});
  for (int code : {0x4332, 0x4333, 0x4334, 0x4335, 0x4338, 0x4339}) {
    EXPECT_EQ(send(code, {3, 127, 0, 0, 1, 80, 0})[3], m4::ERR_BAD_SOCKET) << std::hex << code;
    EXPECT_EQ(send(code, {0xC8, 0, 0, 0, 0, 0, 0})[3], m4::ERR_BAD_SOCKET) << std::hex << code;
  }
  // A board reset frees every record.
  m4_reset(ResetKind::POWER_ON);
  EXPECT_EQ(new_socket(), 1);
}

TEST_F(Network, ConnectSendReceiveAndPeerClose) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(connect_to_listener(c));
  const uint8_t s = c.socket;
  std::thread echo([peer = c.peer] {
    char buffer[64];
    const ssize_t n = recv(peer, buffer, sizeof buffer, 0);
    ::send(peer, buffer, n, 0);
    ::send(peer, "!", 1, 0);
    close(peer);
  });
  EXPECT_EQ(send_bytes(s, "hello"), 0);

  // All of it arrives, then the peer closes: error 3, and only what waits is returned.
  ASSERT_TRUE(wait_for([&] { return status_byte(s, m4::STATUS_ERROR) == m4::ERROR_PEER_CLOSED; }));
  EXPECT_EQ(waiting(s), 6);
  EXPECT_EQ(receive(s, 2), "he");
  EXPECT_EQ(waiting(s), 4);
  EXPECT_EQ(receive(s, 100), "llo!");
  EXPECT_EQ(waiting(s), 0);
  EXPECT_EQ(receive(s, 100), "");
  echo.join();
  close(c.server);
  EXPECT_EQ(send(0x4333, {s})[3], 0);

  // A port nobody listens on: the connection is refused.
  const uint8_t t = new_socket();
  cpc_connect(t, c.port);
  EXPECT_TRUE(wait_for([&] { return status_byte(t, m4::STATUS_ERROR) == 0xF6; }));
}

// More than a receive buffer holds: the buffer fills to its size and no further, and
// every byte comes out once, in order, as the CPC makes room.
TEST_F(Network, AFullReceiveBufferLosesNothing) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(connect_to_listener(c));
  const uint8_t s = c.socket;
  constexpr int TOTAL = m4::RECEIVE_BUFFER_SIZE + 100000;
  std::string sent(TOTAL, 0);
  for (int i = 0; i < TOTAL; ++i) sent[i] = static_cast<char>(i * 13 + i / 251);
  std::thread writer([&] { ::send(c.peer, sent.data(), sent.size(), MSG_NOSIGNAL); });
  // Full: the count shown stops at its 16-bit limit and nothing is taken beyond the buffer.
  ASSERT_TRUE(wait_for([&] { return waiting(s) == 0xFFFF; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string got;
  while (static_cast<int>(got.size()) < TOTAL) {
    const std::string part = receive(s, 2000);
    if (part.empty() && !wait_for([&] { return waiting(s) > 0; })) break;
    got += part;
  }
  writer.join();
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
  close(c.peer);
  close(c.server);
}

// A peer that never reads: once the host's buffers are full a send fails with a status
// instead of holding the machine up.
TEST_F(Network, SendToAPeerThatNeverReadsFails) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(connect_to_listener(c));
  Bytes packet{c.socket, 0xF0, 0x07};
  packet.resize(packet.size() + 0x7F0, 'x');
  uint8_t result = 0;
  testing::internal::CaptureStderr();
  for (int i = 0; i < 100000 && result == 0; ++i) result = send(0x4334, packet)[3];
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SDLNet_TCP_Send: "), std::string::npos);
  EXPECT_TRUE(result == 0xFF || result == 0xFD) << int(result);
  close(c.peer);
  close(c.server);
}

TEST_F(Network, ListenAcceptAndReceiveFromALocalClient) {
  uint16_t port;
  close(listen_loopback(&port));  // a port that was free a moment ago
  const uint8_t s = new_socket();
  const uint8_t lo = static_cast<uint8_t>(port), hi = static_cast<uint8_t>(port >> 8);
  ASSERT_EQ(send(0x4338, {s, 0, 0, 0, 0, lo, hi})[3], 0);
  EXPECT_EQ(send(0x433A, {s})[3], 0xFF);  // not accepting yet
  ASSERT_EQ(send(0x4339, {s})[3], 0);
  EXPECT_EQ(send(0x433A, {s})[3], 0);
  EXPECT_EQ(status_byte(s, m4::STATUS_ERROR), m4::ERROR_CLOSE_REQUESTED);
  EXPECT_EQ(status_byte(s, m4::STATUS_STATE), m4::STATE_ACCEPTED);
  // A second listener on the same port is refused as "address in use".
  const uint8_t t = new_socket();
  EXPECT_EQ(send(0x4338, {t, 0, 0, 0, 0, lo, hi})[3], 0xF8);

  const int client = connect_loopback(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(wait_for([&] { return status_byte(s, m4::STATUS_ERROR) == 0; }));
  EXPECT_EQ(status_byte(s, m4::STATUS_STATE), m4::STATE_ACCEPTED);
  EXPECT_EQ(status_ip(s), Bytes(LOOPBACK, LOOPBACK + 4));
  ::send(client, "ping", 4, 0);
  ASSERT_TRUE(wait_for([&] { return waiting(s) == 4; }));
  EXPECT_EQ(receive(s, 10), "ping");
  EXPECT_EQ(send_bytes(s, "pong"), 0);
  char answer[8] = {};
  EXPECT_EQ(recv(client, answer, sizeof answer, 0), 4);
  EXPECT_STREQ(answer, "pong");
  close(client);
}

}  // namespace
