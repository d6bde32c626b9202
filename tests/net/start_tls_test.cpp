#include <gtest/gtest.h>

#include <string>

#include "net/line_socket.h"
#include "net/tls_failure.h"
#include "support/memory_stream.h"

namespace {

TEST(LineSocketStartTls, RefusesWhileClearTextIsUnread) {
  auto peer = MakePeer({"220 go\r\n250 forged\r\n"});
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  std::string line;
  ASSERT_EQ(socket.ReadLine(line), 6);
  EXPECT_FALSE(socket.NothingWaiting());
  platform::TlsFailure failure;
  EXPECT_FALSE(socket.StartTls({"localhost", "", true}, failure));
  EXPECT_EQ(TlsFailureText(failure), "data was waiting before the TLS handshake");
  EXPECT_FALSE(TlsFailureIsTransient(failure));
  EXPECT_EQ(peer->sent, "");  // no handshake began
}

TEST(LineSocketStartTls, AFailedHandshakeLeavesNothingToSendOn) {
  auto peer = MakePeer({"not TLS at all\r\n"});
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  platform::TlsFailure failure;
  EXPECT_FALSE(socket.StartTls({"localhost", "", true}, failure));
  EXPECT_EQ(failure.kind, platform::TlsFailureKind::kNotTls);
  std::string reason;
  const size_t hello = peer->sent.size();
  EXPECT_GT(hello, 0u);
  EXPECT_FALSE(socket.SendFormatted("MAIL FROM:<a@b>\r\n"));
  EXPECT_EQ(peer->sent.size(), hello);
  EXPECT_EQ(socket.ReadLine(reason), -1);
}

// A relay may split "220 ready\r\n" between packets: the late LF belongs to
// the clear-text line, not to the stream that wraps the connection.
TEST(LineSocketStartTls, ALateHalfOfTheLineEndStaysOutOfTheWrappedStream) {
  for (const char* late : {"\n", "\nhello\r\n"}) {
    auto peer = MakePeer({"220 ready\r", late, "hello\r\n"});
    if (std::string(late).size() > 1) peer->chunks.pop_back();
    CLineSocket socket(true);
    socket.AttachStream(std::make_unique<CMemoryStream>(peer));
    std::string line;
    ASSERT_EQ(socket.ReadLine(line), 9);
    ASSERT_TRUE(socket.WrapStream([](std::unique_ptr<CByteStream> plain) { return plain; }));
    EXPECT_EQ(socket.ReadLine(line), 5) << "late: " << late;
    EXPECT_EQ(line, "hello");
  }
}

}  // namespace
