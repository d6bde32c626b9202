// A connection whose send failed stays failed: the peer has lost bytes, and
// a peer that stopped reading must not cost one send timeout per line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/line_socket.h"
#include "support/memory_stream.h"

TEST(LineSocketSendFailure, LaterSendsFailWithoutReachingThePeer) {
  auto peer = MakePeer();
  peer->sendCapacity = 10;
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));

  EXPECT_TRUE(socket.SendFormatted("%s", "12345"));
  EXPECT_FALSE(socket.SendFormatted("%s", "too long!"));
  // Small enough to fit what is left, yet it would follow a gap in the data.
  EXPECT_FALSE(socket.SendFormatted("%s", "x"));
  EXPECT_FALSE(socket.SendText("y"));
  EXPECT_EQ(peer->sent, "12345");

  // A new connection starts clean.
  auto next = MakePeer();
  socket.AttachStream(std::make_unique<CMemoryStream>(next));
  EXPECT_TRUE(socket.SendFormatted("%s", "again"));
  EXPECT_EQ(next->sent, "again");
}
