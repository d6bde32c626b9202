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
#include "support/fake_environment.h"
#include "support/fake_resolver.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A listening socket on address:port (port 0: one the system picks) with
// the given backlog; -1 when it cannot be made.
int Listen(const std::string& address, long port, int backlog, long* chosen) {
  sockaddr_storage where{};
  socklen_t length = 0;
  if (address.find(':') != std::string::npos) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&where);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
    length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&where);
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &in->sin_addr);
    length = sizeof *in;
  }
  int listener = ::socket(where.ss_family, SOCK_STREAM, 0);
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&where), length) != 0 ||
      ::listen(listener, backlog) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
    if (listener >= 0) ::close(listener);
    return -1;
  }
  *chosen = ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&where)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&where)->sin_port);
  return listener;
}

// A listening socket on a loopback address (127.0.0.1 unless given) at a
// port the system picks, or the one given; a thread runs the peer's side on
// the one accepted connection. Stopped on destruction.
class CLoopbackPeer {
 public:
  explicit CLoopbackPeer(std::function<void(int)> play, const std::string& address = "127.0.0.1",
                         long port = 0) {
    m_listener = Listen(address, port, 4, &m_port);
    if (m_listener < 0) {
      ADD_FAILURE() << "cannot listen on " << address;
      return;
    }
    m_thread = std::thread([this, play = std::move(play)] {
      int connection = ::accept(m_listener, nullptr, nullptr);
      if (connection < 0) return;
      play(connection);
      ::close(connection);
    });
  }
  ~CLoopbackPeer() {
    if (m_listener < 0) return;
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
    EXPECT_EQ(socket.ConnectFailure(),
              "Connection refused by 127.0.0.1 on port " + std::to_string(port));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host localhost\n"
            "Failed to connect to localhost (127.0.0.1) on port " + std::to_string(port) +
                ": Connection refused\n"
            "Connection Closed [0]\n");
}

// A listener whose queue is full answers no further handshake.
class CBlackHole {
 public:
  explicit CBlackHole(const std::string& address, long port = 0) {
    m_listener = Listen(address, port, 0, &m_port);
    if (m_listener < 0) return;
    m_filler = ::socket(address.find(':') != std::string::npos ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage where{};
    socklen_t length = sizeof where;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&where), &length);
    if (::connect(m_filler, reinterpret_cast<sockaddr*>(&where), length) != 0) m_port = 0;
  }
  ~CBlackHole() {
    if (m_filler >= 0) ::close(m_filler);
    if (m_listener >= 0) ::close(m_listener);
  }
  long Port() const { return m_port; }

 private:
  int m_listener = -1;
  int m_filler = -1;
  long m_port = 0;
};

// The connect must give up after its limit instead of waiting for ever.
TEST(LoopbackConnection, ConnectTimesOut) {
  CBlackHole hole("127.0.0.1");
  ASSERT_NE(hole.Port(), 0);
  const long port = hole.Port();
  CLineSocket socket(false);
  SLineTimeouts timeouts;
  timeouts.connectMs = 300;
  socket.SetTimeouts(timeouts);
  testing::internal::CaptureStderr();
  auto start = Clock::now();
  EXPECT_FALSE(socket.Open("127.0.0.1", "smtp", 25, port));
  long elapsed = ElapsedMs(start);
  EXPECT_EQ(socket.ConnectFailure(),
            "Timed out connecting to 127.0.0.1 on port " + std::to_string(port));
  socket.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host 127.0.0.1\n"
            "Failed to connect to localhost (127.0.0.1) on port " + std::to_string(port) +
                ": Timed out\n"
            "Connection Closed [0]\n");
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 2000);
}

// Literals are connected to as they are; the reverse lookup only names them.
TEST(LoopbackConnection, LiteralsConnectDirectly) {
  struct Case {
    const char* host;
    const char* listen;
    const char* reverse;  // nullptr: no name is registered
    const char* shown;    // "name (address)"
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", nullptr, "127.0.0.1 (127.0.0.1)"},
      {"127.1", "127.0.0.1", nullptr, "127.0.0.1 (127.0.0.1)"},
      {"127.0.0.1", "127.0.0.1", "loopback.test", "loopback.test (127.0.0.1)"},
      {"::1", "::1", nullptr, "::1 (::1)"},
      {"0:0:0:0:0:0:0:1", "::1", "ip6-loopback.test", "ip6-loopback.test (::1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    CFakeResolver resolver;
    if (c.reverse) resolver.AddReverse(c.listen, c.reverse);
    CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); }, c.listen);
    CLineSocket socket(false, resolver);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(socket.Open(c.host, "smtp", 25, peer.Port()));
    EXPECT_EQ(socket.GetLocalAddress(), c.listen);
    socket.Close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Looking up host ") + c.host + "\nConnected to " + c.shown +
                  " on port " + std::to_string(peer.Port()) + "\nConnection Closed [0]\n");
    EXPECT_TRUE(resolver.Asked().empty());  // never looked up as a name
    // The reverse lookup waits no longer than a connect may.
    ASSERT_EQ(resolver.ReverseAsked().size(), 1u);
    EXPECT_EQ(resolver.ReverseAsked()[0].second, socket.Timeouts().connectMs);
  }
}

// Quiet, nothing shows the name of a literal address: it is not looked up
// (a name server that never answers cannot hold the run).
TEST(LoopbackConnection, QuietLiteralIsNotLookedUpBackwards) {
  CFakeResolver resolver;
  resolver.AddReverse("127.0.0.1", "loopback.test");
  CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); }, "127.0.0.1");
  CLineSocket socket(true, resolver);
  EXPECT_TRUE(socket.Open("127.0.0.1", "smtp", 25, peer.Port()));
  socket.Close();
  EXPECT_TRUE(resolver.ReverseAsked().empty());
}

// The steps of Open, one at a time.
class CSteppedConnection : public CLineSocket {
 public:
  using CLineSocket::CLineSocket;
  using CLineSocket::ResolveHost;
  using CLineSocket::ResolvePort;
};

TEST(LoopbackConnection, HostLookup) {
  CFakeResolver resolver(
      {{"relay.test", {"mx.relay.test", {AddressOf("127.0.0.1"), AddressOf("::1")}}}},
      "client.example.org");
  CSteppedConnection socket(false, resolver);
  EXPECT_EQ(socket.GetLocalHostName(), "client.example.org");
  EXPECT_EQ(socket.GetRemoteHostName(), "");

  testing::internal::CaptureStderr();
  EXPECT_TRUE(socket.ResolveHost("relay.test"));
  EXPECT_EQ(socket.GetRemoteHostName(), "mx.relay.test");
  EXPECT_EQ(socket.GetRemoteAddress(), "127.0.0.1");  // the first address
  EXPECT_FALSE(socket.ResolveHost("unknown.test"));
  // Not an address inet_addr reads: asked as a name.
  EXPECT_FALSE(socket.ResolveHost("255.255.255.255"));
  EXPECT_EQ(resolver.Asked().back(), "255.255.255.255");
  socket.SetAddressFamilies(platform::AddressFamilies::kIPv6Only);
  EXPECT_TRUE(socket.ResolveHost("relay.test"));
  EXPECT_EQ(socket.GetRemoteAddress(), "::1");
  EXPECT_FALSE(socket.ResolveHost("127.0.0.1"));  // a literal of the other family
  EXPECT_FALSE(socket.Open("unknown.test", "smtp", 25, 2525));
  EXPECT_EQ(socket.ConnectFailure(), "No address found for unknown.test");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host relay.test\n"
            "Looking up host unknown.test\n"
            "Looking up host 255.255.255.255\n"
            "Looking up host relay.test\n"
            "Looking up host 127.0.0.1\n"
            "Looking up host unknown.test\n");
}

// Every address of a name is tried in turn: the first refuses, the second
// takes the connection.
TEST(LoopbackConnection, SecondAddressAfterFirstRefuses) {
  for (const char* up : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(up);
    CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); }, up);
    // Nothing listens on 127.0.0.3: the peer has 127.0.0.1 or ::1 only.
    CFakeResolver resolver(
        {{"relay.test", {"mx.relay.test", {AddressOf("127.0.0.3"), AddressOf(up)}}}});
    CLineSocket socket(false, resolver);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(socket.Open("relay.test", "smtp", 25, peer.Port()));
    EXPECT_EQ(socket.GetRemoteAddress(), up);
    EXPECT_EQ(socket.ConnectFailure(), "");
    socket.Close();
    const std::string port = std::to_string(peer.Port());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Looking up host relay.test\n"
              "Failed to connect to mx.relay.test (127.0.0.3) on port " + port +
                  ": Connection refused\n"
              "Connected to mx.relay.test (" + std::string(up) + ") on port " + port + "\n"
              "Connection Closed [0]\n");
  }
}

// A black-holed first address takes only its share of the connect time-out:
// the second one is still reached within the time-out as a whole.
TEST(LoopbackConnection, BlackHoledFirstAddressLeavesTimeForTheNext) {
  CBlackHole hole("127.0.0.2");
  ASSERT_NE(hole.Port(), 0);
  CLoopbackPeer peer([](int connection) { ReceiveUntilClosed(connection); }, "127.0.0.1",
                     hole.Port());
  CFakeResolver resolver(
      {{"relay.test", {"relay.test", {AddressOf("127.0.0.2"), AddressOf("127.0.0.1")}}}});
  CLineSocket socket(false, resolver);
  SLineTimeouts timeouts;
  timeouts.connectMs = 800;
  socket.SetTimeouts(timeouts);
  testing::internal::CaptureStderr();
  auto start = Clock::now();
  EXPECT_TRUE(socket.Open("relay.test", "smtp", 25, hole.Port()));
  long elapsed = ElapsedMs(start);
  socket.Close();
  const std::string port = std::to_string(hole.Port());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host relay.test\n"
            "Failed to connect to relay.test (127.0.0.2) on port " + port + ": Timed out\n"
            "Connected to relay.test (127.0.0.1) on port " + port + "\n"
            "Connection Closed [0]\n");
  EXPECT_GE(elapsed, 350);  // half of the time-out
  EXPECT_LT(elapsed, 800);
}

// A machine whose own name cannot be looked up says HELO with the address
// literal of its end of the connection: relays refuse an empty name.
TEST(LoopbackConnection, HeloWithoutLocalName) {
  struct Case {
    const char* address;
    const char* helo;
  } cases[] = {
      {"127.0.0.1", "HELO [127.0.0.1]\r"},
      {"::1", "HELO [IPv6:::1]\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    CFakeResolver none;
    CLoopbackPeer peer(
        [&](int connection) {
          SendToClient(connection, "220 ready\r\n");
          std::string line;
          char byte;
          while (::recv(connection, &byte, 1, 0) == 1 && byte != '\n') line.push_back(byte);
          SendToClient(connection, line == c.helo ? "250 ok\r\n" : "501 " + line + "\r\n");
          ReceiveUntilClosed(connection);
        },
        c.address);
    CFakeEnvironment environment;
    environment.resolver = &none;
    CSmtpClient client(true, environment);
    EXPECT_EQ(client.GetLocalHostName(), "");
    ASSERT_TRUE(client.Connect(c.address, peer.Port()));
    EXPECT_EQ(client.GetLocalAddress(), c.address);
    EXPECT_TRUE(client.Login());
  }
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
  CSteppedConnection socket(true);
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
  EXPECT_EQ(socket.ConnectFailure(), "Invalid port " + std::to_string(peer.Port() + 65536));
  socket.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Looking up host 127.0.0.1\nConnection Closed [0]\n");
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
