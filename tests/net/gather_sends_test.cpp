// Gathered sends: the bytes and the trace of the data phase go out in large
// blocks, yet nothing changes in what the peer receives, in the order of the
// trace lines, or in how a failure shows.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/line_socket.h"
#include "smtp/smtp_client.h"
#include "support/memory_stream.h"

namespace {

TEST(GatherSends, HeldUntilThePeerIsAwaitedThenSentInOrder) {
  auto peer = MakePeer({"250 ok\r\n"});
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  testing::internal::CaptureStderr();
  socket.GatherSends(true);
  EXPECT_TRUE(socket.SendFormatted("From: %s\r\n", "ann"));
  EXPECT_TRUE(socket.SendText("body\r\n"));
  EXPECT_EQ(peer->sent, "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  EXPECT_TRUE(socket.SendText(".\r\n"));
  std::string line;
  EXPECT_EQ(socket.ReadLine(line), 6);
  EXPECT_EQ(peer->sent, "From: ann\r\nbody\r\n.\r\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "--> From: ann\r\n--> body\r\n--> .\r\n<-- 250 ok\n");

  // Turned off, sends go straight out again; Close writes what is held.
  socket.GatherSends(false);
  EXPECT_TRUE(socket.SendText("QUIT\r\n"));
  EXPECT_EQ(peer->sent, "From: ann\r\nbody\r\n.\r\nQUIT\r\n");
  socket.GatherSends(true);
  testing::internal::CaptureStderr();
  socket.SendText("late\r\n");
  socket.Close();
  EXPECT_EQ(peer->sent, "From: ann\r\nbody\r\n.\r\nQUIT\r\nlate\r\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "--> late\r\nConnection Closed [0]\n");
}

TEST(GatherSends, AFullBlockGoesOutWithoutWaiting) {
  auto peer = MakePeer();
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  socket.GatherSends(true);
  const std::string line = std::string(76, 'Q') + "\r\n";
  std::string all;
  for (int i = 0; i < 10000; ++i) {  // 780 000 bytes
    EXPECT_TRUE(socket.SendText(line));
    all += line;
  }
  EXPECT_GT(peer->sent.size(), 500000u);
  EXPECT_TRUE(all.starts_with(peer->sent));
  EXPECT_TRUE(socket.FlushSends());
  EXPECT_TRUE(peer->sent == all);
}

// The relay's acceptance does not make a message whose bytes were lost a
// delivered one.
TEST(GatherSends, TransactionFailsWhenTheDataWasNotSentWhole) {
  for (long capacity : {-1L, 60L}) {
    auto peer = MakePeer({"250 sender\r\n", "250 recipient\r\n", "354 go\r\n", "250 queued\r\n"});
    peer->sendCapacity = capacity;
    CSmtpClient client(true);
    client.AttachStream(std::make_unique<CMemoryStream>(peer));
    client.m_originatorAddress = "a@b";
    client.m_recipients = {"c@d"};
    CMessagePart part;
    part.m_contentType = "application/octet-stream";
    part.m_encoding = "base64";
    part.m_lines.push_back("QUJD\r\n");
    client.m_parts = {part};
    EXPECT_EQ(client.SendMail(), capacity < 0) << capacity;
  }
}

}  // namespace
