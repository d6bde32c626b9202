// The line connection over real sockets, against peers on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "net/line_socket.h"
#include "platform/socket.h"
#include "smtp/smtp_client.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A listening socket on 127.0.0.1 at a port the system picks; a thread runs
// the peer's side on the one accepted connection. Stopped on destruction.
class CLoopbackPeer {
 public:
  explicit CLoopbackPeer(std::function<void(int)> play) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this, play = std::move(play)] {
      int connection = ::accept(m_listener, nullptr, nullptr);
      if (connection < 0) return;
      play(connection);
      ::close(connection);
    });
  }
  ~CLoopbackPeer() {
    ::shutdown(m_listener, SHUT_RDWR);  // ends an accept that is still waiting
    if (m_thread.joinable()) m_thread.join();
    ::close(m_listener);
  }
  long Port() const { return m_port; }

 private:
  int m_listener = -1;
  long m_port = 0;
  std::thread m_thread;
};

void SendToClient(int connection, const std::string& text) {
  ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
}

// Waits until the client closes (or 10 s pass), returning all it sent.
std::string ReceiveUntilClosed(int connection) {
  timeval limit{10, 0};
  ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string received;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) return received;
    received.append(buffer, static_cast<size_t>(n));
  }
}

// A port on which nothing listens.
long ClosedPort() {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

// Host lookups from a fixed table, so that no test asks a name server.
std::map<std::string, platform::HostEntry>* g_names = nullptr;
std::string* g_lastName = nullptr;

class CHostTable {
 public:
  CHostTable(std::map<std::string, platform::HostEntry> names, const char* localName)
      : m_names(std::move(names)) {
    g_names = &m_names;
    g_lastName = &m_lastName;
    platform::SetHostLookupForTesting(
        [](const std::string& name, platform::HostEntry& entry) {
          *g_lastName = name;
          auto found = g_names->find(name);
          if (found == g_names->end()) return false;
          entry = found->second;
          return true;
        },
        [](uint32_t, platform::HostEntry&) { return false; }, localName);
  }
  ~CHostTable() {
    platform::SetHostLookupForTesting(nullptr, nullptr, nullptr);
    g_names = nullptr;
    g_lastName = nullptr;
  }
  const std::string& LastName() const { return m_lastName; }

 private:
  std::map<std::string, platform::HostEntry> m_names;
  std::string m_lastName;
};

uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

TEST(LoopbackConnection, ConnectsAndTracesTheHost) {
  CLoopbackPeer peer([](int connection) {
    SendToClient(connection, "220 ready\r\n");
    ReceiveUntilClosed(connection);
  });
  CLineSocket socket(false);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
  std::string line;
  EXPECT_EQ(socket.ReadLine(line), 9);
  socket.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host 127.0.0.1\n"
            "Connected to localhost (127.0.0.1) on port " + std::to_string(peer.Port()) + "\n"
            "<-- 220 ready\n"
            "Connection Closed [0]\n");
}

TEST(LoopbackConnection, RefusedConnectionIsClosedAtDestruction) {
  const long port = ClosedPort();
  testing::internal::CaptureStderr();
  {
    CLineSocket socket(false);
    EXPECT_FALSE(socket.Open("localhost", "smtp", 25, port));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host localhost\n"
            "Failed to connect to localhost (127.0.0.1) on port " + std::to_string(port) + "\n"
            "Connection Closed [0]\n");
}

// A listener whose queue is full answers no further handshake: the connect
// must give up after its limit instead of waiting for ever.
TEST(LoopbackConnection, ConnectTimesOut) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  int filler = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const long port = ntohs(address.sin_port);

  CLineSocket socket(false);
  SLineTimeouts timeouts;
  timeouts.connectMs = 300;
  socket.SetTimeouts(timeouts);
  testing::internal::CaptureStderr();
  auto start = Clock::now();
  EXPECT_FALSE(socket.Open("127.0.0.1", "smtp", 25, port));
  long elapsed = ElapsedMs(start);
  socket.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host 127.0.0.1\n"
            "Failed to connect to localhost (127.0.0.1) on port " + std::to_string(port) + "\n"
            "Connection Closed [0]\n");
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 2000);
  ::close(filler);
  ::close(listener);
}

TEST(LoopbackConnection, AddressWithoutNameIsStillConnected) {
  CHostTable table({}, "nameless");  // no reverse lookup finds a name
  for (const char* host : {"127.0.0.1", "127.1"}) {
    SCOPED_TRACE(host);
    CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); });
    CLineSocket socket(false);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(socket.Open(host, "smtp", 25, peer.Port()));
    EXPECT_EQ(socket.GetRemoteHostName(), "127.0.0.1");
    socket.Close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Looking up host ") + host + "\n" +
                  "Connected to 127.0.0.1 (127.0.0.1) on port " + std::to_string(peer.Port()) +
                  "\nConnection Closed [0]\n");
  }
}

TEST(LoopbackConnection, HostLookup) {
  CHostTable table({{"relay.test", {"mx.relay.test", {Loopback(), htonl(0x7f000002)}}},
                    {"client.test", {"client.example.org", {Loopback()}}}},
                   "client.test");
  CLineSocket socket(false);
  EXPECT_EQ(socket.GetLocalHostName(), "client.example.org");
  EXPECT_EQ(socket.GetRemoteHostName(), "");

  testing::internal::CaptureStderr();
  EXPECT_TRUE(socket.ResolveHost("relay.test"));
  EXPECT_EQ(socket.GetRemoteHostName(), "mx.relay.test");
  EXPECT_EQ(socket.GetRemoteAddress(), "127.0.0.1");  // the first address
  EXPECT_FALSE(socket.ResolveHost("unknown.test"));
  // Not a dotted address for inet_addr: asked as a name.
  EXPECT_FALSE(socket.ResolveHost("255.255.255.255"));
  EXPECT_EQ(table.LastName(), "255.255.255.255");
  EXPECT_FALSE(socket.Open("unknown.test", "smtp", 25, 2525));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host relay.test\n"
            "Looking up host unknown.test\n"
            "Looking up host 255.255.255.255\n"
            "Looking up host unknown.test\n");

}

// A machine whose own name cannot be looked up says HELO with the address
// literal of its end of the connection: relays refuse an empty name.
TEST(LoopbackConnection, HeloWithoutLocalName) {
  CHostTable none({}, "client.test");
  CLoopbackPeer peer([](int connection) {
    SendToClient(connection, "220 ready\r\n");
    std::string line;
    char c;
    while (::recv(connection, &c, 1, 0) == 1 && c != '\n') line.push_back(c);
    SendToClient(connection,
                 line == "HELO [127.0.0.1]\r" ? "250 ok\r\n" : "501 " + line + "\r\n");
    ReceiveUntilClosed(connection);
  });
  CSmtpClient client(true);
  EXPECT_EQ(client.GetLocalHostName(), "");
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.Port()));
  EXPECT_EQ(client.GetLocalAddress(), "127.0.0.1");
  EXPECT_TRUE(client.Login());
}

// Bytes the peer sent unasked are found on the socket itself, not only in
// the read buffer, and stay there to be read.
TEST(LoopbackConnection, PollFindsBytesSentUnasked) {
  CLoopbackPeer peer([](int connection) {
    SendToClient(connection, "250 early\r\n");
    ReceiveUntilClosed(connection);
  });
  CLineSocket socket(false);
  ASSERT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
  testing::internal::CaptureStderr();
  bool waiting = false;
  auto start = Clock::now();
  while (!waiting && ElapsedMs(start) < 5000) {
    waiting = !socket.NothingWaiting();
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(waiting);
  std::string line;
  EXPECT_EQ(socket.ReadLine(line), 9);
  EXPECT_EQ(line, "250 early");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "localhost replied before it was asked\n<-- 250 early\n");
  EXPECT_TRUE(socket.NothingWaiting());
}

TEST(LoopbackConnection, ResolvePort) {
  struct Case {
    const char* service;
    int defaultPort;
    long overridePort;
    uint16_t port;  // host order; 0 = refused
  } cases[] = {
      {"smtp", 2525, 587, 587},
      {"smtp", 2525, 65535, 65535},
      {"smtp", 2525, 1, 1},
      {"smtp", 2525, 0, 25},  // the service entry wins over the default
      {"no-such-service", 2525, 0, 2525},
      // Never cut to another port: 70000 would otherwise become 4464.
      {"smtp", 25, 70000, 0},
      {"smtp", 25, 65536, 0},
      {"smtp", 25, -5, 0},
  };
  CLineSocket socket(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.overridePort);
    EXPECT_EQ(platform::NetworkToHost16(socket.ResolvePort(c.service, c.defaultPort,
                                                           c.overridePort)),
              c.port);
  }
}

TEST(LoopbackConnection, OutOfRangePortConnectsNowhere) {
  std::atomic<bool> accepted{false};
  CLoopbackPeer peer([&](int) { accepted = true; });
  CLineSocket socket(false);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(socket.Open("127.0.0.1", "smtp", 25, peer.Port() + 65536));
  socket.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host 127.0.0.1\nInvalid port " + std::to_string(peer.Port() + 65536) +
                "\nConnection Closed [0]\n");
  EXPECT_FALSE(accepted);
}

TEST(LoopbackConnection, LargeSendArrivesWhole) {
  std::string received;
  std::string text(8 * 1024 * 1024, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 4096);
  {
    CLoopbackPeer peer([&](int connection) { received = ReceiveUntilClosed(connection); });
    CLineSocket socket(true);
    ASSERT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
    EXPECT_TRUE(socket.SendText(text));
    socket.Close();
  }
  EXPECT_TRUE(received == text) << received.size() << " of " << text.size() << " bytes";
}

TEST(LoopbackConnection, SendToClosedPeerFailsWithoutSignal) {
  CLoopbackPeer peer([](int) {});  // accepts and closes at once
  CLineSocket socket(true);
  ASSERT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
  std::string line;
  EXPECT_EQ(socket.ReadLine(line), -1);
  bool sent = true;
  for (int i = 0; i < 50 && sent; ++i) sent = socket.SendFormatted("NOOP %d\r\n", i);
  EXPECT_FALSE(sent);  // and the process is still alive
}

TEST(LoopbackConnection, SendWithoutProgressTimesOut) {
  std::atomic<bool> done{false};
  CLoopbackPeer peer([&](int) {
    // Never reads; holds the connection open until the client gave up.
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  CLineSocket socket(true);
  SLineTimeouts timeouts;
  timeouts.sendMs = 200;
  socket.SetTimeouts(timeouts);
  ASSERT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
  const std::string text(64 * 1024 * 1024, 'x');
  auto start = Clock::now();
  EXPECT_FALSE(socket.SendText(text));
  long elapsed = ElapsedMs(start);
  done = true;
  EXPECT_GE(elapsed, 200);
  EXPECT_LT(elapsed, 2000);
}

TEST(LoopbackConnection, ReplyEndedByLineFeedDoesNotStall) {
  CLoopbackPeer peer([](int connection) {
    SendToClient(connection, "220 ready\n");
    ReceiveUntilClosed(connection);
  });
  CSmtpClient client(true);
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.Port()));
  auto start = Clock::now();
  EXPECT_TRUE(client.ReadReply("220", 5000));
  EXPECT_LT(ElapsedMs(start), 2000);
}

// The limit holds for a whole reply, not for each receive: a peer that
// trickles continuation lines cannot keep the client waiting.
TEST(LoopbackConnection, ReplyDeadlineCoversTheWholeReply) {
  std::atomic<bool> stop{false};
  CLoopbackPeer peer([&](int connection) {
    for (int i = 0; i < 100 && !stop; ++i) {
      SendToClient(connection, "250-still here\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  CSmtpClient client(false);
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.Port()));
  testing::internal::CaptureStderr();
  auto start = Clock::now();
  EXPECT_FALSE(client.ReadReply("250", 300));
  long elapsed = ElapsedMs(start);
  stop = true;
  client.Close();
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 1500);
  EXPECT_NE(trace.find("<-- 250-still here\n"), std::string::npos);
  EXPECT_NE(trace.find("Timed out waiting for localhost\n"), std::string::npos) << trace;
}

TEST(LoopbackConnection, SilentPeerTimesOut) {
  CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); });
  CSmtpClient client(true);
  SLineTimeouts timeouts;
  timeouts.replyMs = 200;
  client.SetTimeouts(timeouts);
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.Port()));
  auto start = Clock::now();
  EXPECT_FALSE(client.Login());
  EXPECT_LT(ElapsedMs(start), 1500);
}

}  // namespace
