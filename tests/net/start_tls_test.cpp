#include <gtest/gtest.h>

#include <string>

#include "net/line_socket.h"
#include "support/memory_stream.h"

namespace {

TEST(LineSocketStartTls, RefusesWhileClearTextIsUnread) {
  auto peer = MakePeer({"220 go\r\n250 forged\r\n"});
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  std::string line;
  ASSERT_EQ(socket.ReadLine(line), 6);
  EXPECT_FALSE(socket.NothingWaiting());
  std::string reason;
  EXPECT_FALSE(socket.StartTls({"localhost", "", true}, reason));
  EXPECT_EQ(reason, "data was waiting before the TLS handshake");
  EXPECT_EQ(peer->sent, "");  // no handshake began
}

TEST(LineSocketStartTls, AFailedHandshakeLeavesNothingToSendOn) {
  auto peer = MakePeer({"not TLS at all\r\n"});
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  std::string reason;
  EXPECT_FALSE(socket.StartTls({"localhost", "", true}, reason));
  EXPECT_FALSE(reason.empty());
  const size_t hello = peer->sent.size();
  EXPECT_GT(hello, 0u);
  EXPECT_FALSE(socket.SendFormatted("MAIL FROM:<a@b>\r\n"));
  EXPECT_EQ(peer->sent.size(), hello);
  EXPECT_EQ(socket.ReadLine(reason), -1);
}

}  // namespace
