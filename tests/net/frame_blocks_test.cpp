// Framed blocks (BDAT chunks): each gathered block goes out with its frame
// in one write, the frame traced but not counted as data, and a final block
// may be empty.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/line_socket.h"
#include "support/memory_stream.h"

namespace {

class CTestFramer : public CBlockFramer {
 public:
  std::string Header(size_t size) override {
    return "BDAT " + std::to_string(size) + (last ? " LAST\r\n" : "\r\n");
  }
  std::string Trailer() override { return last ? "QUIT\r\n" : ""; }
  bool Written() override {
    ++written;
    return !refuse;
  }
  bool last = false;
  bool refuse = false;
  int written = 0;
};

class CCounts : public CSendWatcher {
 public:
  void Sent(uint64_t bytes) override { counts.push_back(bytes); }
  std::vector<uint64_t> counts;
};

// A block filled to the brim goes at once; the last one, written on demand,
// is then empty: "BDAT 0 LAST" (RFC 3030 allows it). The watcher counts the
// data alone; the trace shows each frame ahead of its lines.
TEST(FrameBlocks, FullBlocksThenAnEmptyLastOne) {
  auto peer = MakePeer();
  CLineSocket socket(false);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  CTestFramer framer;
  CCounts counts;
  socket.GatherSends(true);
  socket.WatchSends(&counts);
  socket.FrameBlocks(&framer);
  const std::string line(1022, 'x');
  testing::internal::CaptureStderr();
  for (int i = 0; i < 256; ++i) ASSERT_TRUE(socket.SendText(line + "\r\n"));
  EXPECT_EQ(framer.written, 1);
  framer.last = true;
  EXPECT_TRUE(socket.WriteFramedBlock());
  const std::string trace = testing::internal::GetCapturedStderr();
  socket.FrameBlocks(nullptr);
  socket.WatchSends(nullptr);
  socket.GatherSends(false);

  std::string data;
  for (int i = 0; i < 256; ++i) data += line + "\r\n";
  EXPECT_EQ(peer->sent, "BDAT 262144\r\n" + data + "BDAT 0 LAST\r\nQUIT\r\n");
  EXPECT_EQ(framer.written, 2);
  ASSERT_FALSE(counts.counts.empty());
  EXPECT_EQ(counts.counts.back(), data.size());
  EXPECT_TRUE(trace.starts_with("--> BDAT 262144\r\n--> xxx"));
  EXPECT_TRUE(trace.ends_with("--> BDAT 0 LAST\r\n--> QUIT\r\n"));
}

// A framer that refuses after a block fails every later send: nothing more
// reaches the peer, framed or not.
TEST(FrameBlocks, RefusalStopsEverySendAfterIt) {
  auto peer = MakePeer();
  CLineSocket socket(true);
  socket.AttachStream(std::make_unique<CMemoryStream>(peer));
  CTestFramer framer;
  framer.refuse = true;
  socket.GatherSends(true);
  socket.FrameBlocks(&framer);
  EXPECT_TRUE(socket.SendText("a\r\n"));
  EXPECT_FALSE(socket.FlushSends());
  EXPECT_FALSE(socket.SendText("b\r\n"));
  framer.last = true;
  EXPECT_FALSE(socket.WriteFramedBlock());
  socket.FrameBlocks(nullptr);
  EXPECT_FALSE(socket.FlushSends());
  EXPECT_EQ(peer->sent, "BDAT 3\r\na\r\n");
}

}  // namespace
