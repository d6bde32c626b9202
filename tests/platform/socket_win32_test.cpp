#include "platform/socket.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The socket library for one test.
class Library {
 public:
  Library() : m_status(platform::StartSocketLibrary()) {}
  ~Library() {
    if (m_status == 0) platform::StopSocketLibrary();
  }
  int Status() const { return m_status; }

 private:
  int m_status;
};

// A listening socket on 127.0.0.1 at a port the system picks.
class Listener {
 public:
  Listener() {
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_socket, 1);
    int length = sizeof address;
    getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = address.sin_port;
  }
  ~Listener() { closesocket(m_socket); }
  uint16_t Port() const { return m_port; }  // network byte order
  SOCKET Accept() { return accept(m_socket, nullptr, nullptr); }
  void Close() {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }

 private:
  SOCKET m_socket;
  uint16_t m_port = 0;
};

platform::SAddress Loopback() {
  platform::SAddress address;
  address.family = platform::SAddress::kIPv4;
  address.bytes[0] = 127;
  address.bytes[3] = 1;
  return address;
}

// Connects stream to port on 127.0.0.1; error receives why it failed.
bool ConnectLoopback(platform::CSocketStream& stream, uint16_t port, int timeoutMs,
                     platform::ConnectError* error = nullptr) {
  platform::ConnectError why;
  std::string text;
  const bool connected = stream.Connect(Loopback(), port, timeoutMs, why, text);
  if (error) *error = why;
  return connected;
}

TEST(SocketWin32, AddressesAndNames) {
  Library library;
  ASSERT_EQ(library.Status(), 0);
  std::string canonical;
  std::vector<platform::SAddress> addresses;
  ASSERT_TRUE(platform::LookupHost("localhost", platform::AddressFamilies::kIPv4Only, canonical,
                                   addresses));
  ASSERT_FALSE(addresses.empty());
  EXPECT_TRUE(addresses[0] == Loopback());
  EXPECT_EQ(platform::HostToNetwork16(25), htons(25));
  EXPECT_EQ(platform::NetworkToHost16(htons(587)), 587);
}

TEST(SocketWin32, SendsEveryByteAndReceivesUntilClosed) {
  Library library;
  Listener listener;
  auto stream = platform::CSocketStream::Create(platform::SAddress::kIPv4);
  ASSERT_TRUE(stream);
  ASSERT_TRUE(ConnectLoopback(*stream, listener.Port(), 5000));
  SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);

  // More than the socket buffers hold, read by the peer while it is sent.
  const std::string data(4 * 1024 * 1024, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    int n;
    while (received.size() < data.size() && (n = recv(peer, buffer, sizeof buffer, 0)) > 0) {
      received.append(buffer, static_cast<size_t>(n));
    }
  });
  EXPECT_TRUE(stream->SendAll(data.data(), data.size(), 5000));
  reader.join();
  EXPECT_EQ(received.size(), data.size());

  send(peer, "220 hi\r\n", 8, 0);
  char buffer[64];
  EXPECT_EQ(stream->Receive(buffer, sizeof buffer, 5000), 8);
  EXPECT_EQ(std::string(buffer, 8), "220 hi\r\n");

  // Silence: a time-out, not an end.
  const int64_t start = platform::MonotonicMs();
  EXPECT_EQ(stream->Receive(buffer, sizeof buffer, 300), CByteStream::kReceiveTimeout);
  const int64_t waited = platform::MonotonicMs() - start;
  EXPECT_GE(waited, 250);
  EXPECT_LT(waited, 3000);

  closesocket(peer);
  EXPECT_EQ(stream->Receive(buffer, sizeof buffer, 5000), 0);
  EXPECT_EQ(stream->Close(), 0);
}

TEST(SocketWin32, RefusedConnectFails) {
  Library library;
  uint16_t port;
  {
    Listener listener;
    port = listener.Port();
  }  // nothing listens there now
  auto stream = platform::CSocketStream::Create(platform::SAddress::kIPv4);
  ASSERT_TRUE(stream);
  const int64_t start = platform::MonotonicMs();
  platform::ConnectError error = platform::ConnectError::kNone;
  EXPECT_FALSE(ConnectLoopback(*stream, port, 10000, &error));
  EXPECT_LT(platform::MonotonicMs() - start, 9000);
  EXPECT_TRUE(error == platform::ConnectError::kRefused);
}

TEST(SocketWin32, FullPeerMakesSendTimeOut) {
  Library library;
  Listener listener;
  auto stream = platform::CSocketStream::Create(platform::SAddress::kIPv4);
  ASSERT_TRUE(ConnectLoopback(*stream, listener.Port(), 5000));
  SOCKET peer = listener.Accept();
  // The peer never reads: once its buffers are full no byte moves.
  const std::string data(64 * 1024 * 1024, 'y');
  const int64_t start = platform::MonotonicMs();
  EXPECT_FALSE(stream->SendAll(data.data(), data.size(), 300));
  EXPECT_LT(platform::MonotonicMs() - start, 20000);
  closesocket(peer);
}

}  // namespace
